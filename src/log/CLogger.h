#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

// The process-wide diagnostic log: one file per day of start in the temporary directory,
// one line per event. Never reports a failure: a line that cannot be written is lost.
// Thread Safety: shared objects safe.
class CLogger {
public:
    static constexpr std::size_t kMaxLineBytes = 4096; // with the terminating NUL

    // The single instance, created on the first call in the temporary directory.
    static CLogger* GetInstance();

    // directory ends in the path separator; the file is named after today's local date.
    explicit CLogger(std::string directory);
    virtual ~CLogger();
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;

    // printf-style; format and arguments are ANSI text. Lines longer than kMaxLineBytes - 1
    // bytes are cut to fit.
    void Error(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void Info(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The full path of the day's log file.
    std::string path() const { return directory_ + file_name_; }

private:
    void OpenDailyFile();
    void OpenFile();
    // Writes one line if threshold_ is below level.
    void Write(int level, const char* tag, const char* format, va_list arguments)
        __attribute__((format(printf, 4, 0)));
    void WriteLine(const char* line);

    std::FILE* file_ = nullptr;
    int threshold_ = 0;
    std::string directory_;
    std::string file_name_;
    std::mutex mutex_;
};

#include "log/CLogger.h"

#include "platform/local_time.h"
#include "platform/temp_directory.h"
#include "platform/thread_id.h"

#include <cstring>
#include <utility>

namespace {

constexpr int kInfoLevel = 1;
constexpr int kErrorLevel = 3;

// Writes "hh:mm:ss|thread id|" for now and the calling thread; returns its length.
std::size_t MakePrefix(char* buffer, std::size_t size) {
    const std::tm now = platform::local_time_now();
    const int length = std::snprintf(buffer, size, "%02d:%02d:%02d|%lu|", now.tm_hour, now.tm_min,
                                     now.tm_sec, platform::current_thread_id());
    return length > 0 ? static_cast<std::size_t>(length) : 0;
}

} // namespace

CLogger* CLogger::GetInstance() {
    // Never destroyed, so code that runs while statics are torn down can still log.
    static CLogger* const instance = new CLogger(platform::temp_directory());
    return instance;
}

CLogger::CLogger(std::string directory) : directory_(std::move(directory)) {
    OpenDailyFile();
}

CLogger::~CLogger() {
    if (file_)
        std::fclose(file_);
}

void CLogger::Error(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Write(kErrorLevel, " Error: ", format, arguments);
    va_end(arguments);
}

void CLogger::Info(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Write(kInfoLevel, " Info: ", format, arguments);
    va_end(arguments);
}

// The name comes from the date of creation: a logger running past midnight keeps its file.
void CLogger::OpenDailyFile() {
    const std::tm today = platform::local_time_now();
    char name[64];
    std::snprintf(name, sizeof name, "Quillgatelog_%04d-%02d-%02d.log", today.tm_year + 1900,
                  today.tm_mon + 1, today.tm_mday);
    file_name_ = name;
    OpenFile();
}

void CLogger::OpenFile() {
    file_ = std::fopen(path().c_str(), "a+");
}

void CLogger::Write(int level, const char* tag, const char* format, va_list arguments) {
    if (threshold_ >= level || !format)
        return;
    // Composed outside the lock; vsnprintf cuts a message that does not fit.
    char line[kMaxLineBytes];
    std::size_t length = MakePrefix(line, sizeof line);
    const std::size_t tag_length = std::strlen(tag);
    std::memcpy(line + length, tag, tag_length + 1);
    length += tag_length;
    std::vsnprintf(line + length, sizeof line - length, format, arguments);
    WriteLine(line);
}

// A line that finds no open file, and cannot open one, is lost; the next line tries again.
void CLogger::WriteLine(const char* line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_)
        OpenFile();
    if (!file_)
        return;
    std::fprintf(file_, "%s\n", line);
    std::fflush(file_);
}

#pragma once

#include <memory>
#include <string>

namespace platform {

// A shared library loaded at run time, unloaded when the object goes.
// Thread Safety: distinct objects safe, shared objects safe for symbol().
class DynamicLibrary {
public:
    // Returns null and sets error to the loader's text when the library cannot be loaded.
    static std::unique_ptr<DynamicLibrary> load(const std::string& path, std::string& error);
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // The address of an exported symbol, or null when the library has none of that name.
    void* symbol(const char* name) const;

private:
    explicit DynamicLibrary(void* handle) : handle_(handle) {}
    void* handle_;
};

} // namespace platform

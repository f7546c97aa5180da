#include "common/module_loader_posix.h"

#include "common/app_exe_path.h"
#include "common/program_file.h"

#include <dlfcn.h>

namespace posix {

namespace {

std::string LoaderError(const std::string& fallback) {
    const char* error = ::dlerror();
    return error != nullptr ? std::string(error) : fallback;
}

} // namespace

void* LoadProgramModule(const char* file, const char* entry, std::string& reason) {
    // /proc/self/exe is the program's real path, links resolved by the kernel; without it there
    // is no folder to trust, and a relative name would send dlopen searching.
    if (platform::ProgramFilePath().rfind('/', 0) != 0) {
        reason = std::string(file) + ": the program's own folder is unknown";
        return nullptr;
    }
    const std::string path = CommonModule::AppPath() + file;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        reason = LoaderError(path + ": cannot be loaded");
        return nullptr;
    }
    ::dlerror();
    void* symbol = ::dlsym(module, entry);
    if (symbol == nullptr) {
        reason = LoaderError(path + ": no " + entry);
    }
    return symbol;
}

} // namespace posix

// Windows: check-run.lock in the program's folder, opened without sharing, so a second open of
// it fails with a sharing violation while a run holds it; the system closes the handle when the
// run ends, however it ends. Only SYSTEM and Administrators may open the file, so a standard user
// cannot hold it first (a named object would be theirs to create first).
#include "app/single_instance.h"

#include "common/app_exe_path.h"
#include "common/dprint.h"
#include "common/win32_handle.h"
#include "common/win32_text.h"
#include "security/protected_dacl_win32.h"

#include <string>

namespace modGetExternalIP {

namespace {

void RunUnguarded(const std::string& why) {
    CommonModule::DPrint("SingleInstance: " + why + "; running unguarded");
}

} // namespace

struct SingleInstance::Impl {
    win32::FileHandle file{INVALID_HANDLE_VALUE};
};

SingleInstance::SingleInstance() : impl_(std::make_unique<Impl>()) {
    const std::string path = CommonModule::AppPath() + "check-run.lock";
    std::vector<BYTE> descriptor =
        SetPerm::BuildProtectedDescriptor(SetPerm::ProtectedObject::PrivateFile);
    if (descriptor.empty()) {
        RunUnguarded(path + ": no security descriptor, error " + std::to_string(::GetLastError()));
        acquired_ = true;
        return;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.data(), FALSE};
    // Read access makes the open count for sharing; WRITE_DAC and WRITE_OWNER let a file someone
    // else left be taken back. A planted link is opened as itself, never followed.
    impl_->file = win32::FileHandle(::CreateFileW(
        win32::AnsiToWide(path).c_str(), GENERIC_READ | READ_CONTROL | WRITE_DAC | WRITE_OWNER, 0,
        &attributes, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const DWORD error = ::GetLastError();
    if (!impl_->file) {
        if (error != ERROR_SHARING_VIOLATION) {
            RunUnguarded(path + ": error " + std::to_string(error));
            acquired_ = true;
        }
        return;
    }
    acquired_ = true;
    // A second name of another file (a hard link) would have us rewrite that file's access list.
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(impl_->file.get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(impl_->file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        info.nNumberOfLinks != 1) {
        impl_->file.reset();
        RunUnguarded(path + ": not a plain file");
        return;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        SetPerm::ReprotectOpenFile(impl_->file.get(), "SingleInstance: " + path);
    }
}

SingleInstance::~SingleInstance() = default;

void RemoveGuardFile() {
    const std::string path = CommonModule::AppPath() + "check-run.lock";
    if (::DeleteFileW(win32::AnsiToWide(path).c_str())) {
        return;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) {
        CommonModule::DPrint("SingleInstance: " + path + ": not removed, error " +
                             std::to_string(error));
    }
}

} // namespace modGetExternalIP

// Windows: a named mutex in the global namespace, so runs in every session see the same one. A
// holder that died leaves it abandoned, which the next wait still acquires.
#include "app/single_instance.h"

#include "common/dprint.h"
#include "common/win32_handle.h"

#include <string>

namespace modGetExternalIP {

namespace {
constexpr const wchar_t* kMutexName = L"Global\\Quillfen-Addrwatch-CheckRun";
} // namespace

struct SingleInstance::Impl {
    win32::KernelHandle mutex;
    bool owned = false;
    ~Impl() {
        if (owned) {
            ::ReleaseMutex(mutex.get());
        }
    }
};

SingleInstance::SingleInstance() : impl_(std::make_unique<Impl>()) {
    impl_->mutex = win32::KernelHandle(::CreateMutexW(nullptr, FALSE, kMutexName));
    if (!impl_->mutex) {
        const DWORD error = ::GetLastError();
        // A mutex we may not open exists, so some other account's run holds it.
        if (error != ERROR_ACCESS_DENIED) {
            CommonModule::DPrint("SingleInstance: CreateMutex failed with error " +
                                 std::to_string(error) + "; running unguarded");
            acquired_ = true;
        }
        return;
    }
    const DWORD wait = ::WaitForSingleObject(impl_->mutex.get(), 0);
    impl_->owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    acquired_ = impl_->owned || wait != WAIT_TIMEOUT;
    if (wait == WAIT_FAILED) {
        CommonModule::DPrint("SingleInstance: waiting for the mutex failed with error " +
                             std::to_string(::GetLastError()) + "; running unguarded");
    }
}

SingleInstance::~SingleInstance() = default;

} // namespace modGetExternalIP

// Windows page download: the URL download service (urlmon) and the Internet cache (wininet).
// Only Win32 and COM here. The download runs on a worker thread so that its time bound holds
// even when the server sends nothing at all and no progress callback ever arrives.
#include "monitor/page_download.h"

#include "common/win32_handle.h"
#include "common/windows_api.h"

#include <urlmon.h>
#include <wininet.h>

#include <string>

namespace platform {

namespace {

constexpr int kMaxRedirects = 5;

bool IsHttpUrl(LPCWSTR url) {
    if (url == nullptr) {
        return false;
    }
    const std::wstring text(url);
    auto starts = [&](const wchar_t* prefix) {
        const std::wstring p(prefix);
        return text.size() >= p.size() &&
               ::CompareStringOrdinal(text.c_str(), static_cast<int>(p.size()), p.c_str(),
                                      static_cast<int>(p.size()), TRUE) == CSTR_EQUAL;
    };
    return starts(L"http://") || starts(L"https://");
}

// One download: the bounds, what the binding reported, and who finishes it. Shared by the
// caller and the worker thread, released by whichever lets go last.
class BoundedDownload final : public IBindStatusCallback {
public:
    BoundedDownload(std::string url, std::string part, const DownloadBounds& bounds)
        : url_(std::move(url)), part_(std::move(part)), limit_(bounds.bytes),
          deadline_(::GetTickCount64() + static_cast<ULONGLONG>(bounds.time.count())) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IBindStatusCallback)) {
            *ppv = static_cast<IBindStatusCallback*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(::InterlockedIncrement(&refs_));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = ::InterlockedDecrement(&refs_);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    // IBindStatusCallback
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return Verdict(); }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG status,
                                         LPCWSTR text) override {
        if (status == BINDSTATUS_REDIRECTING &&
            (++redirects_ > kMaxRedirects || !IsHttpUrl(text))) {
            Abort();
        }
        if (progress > limit_ || progressMax > limit_) {
            Abort();
        }
        return Verdict();
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
        return Verdict();
    }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    // The worker thread's body: fetch into the private file, then hand it over as the target
    // unless the caller gave up meanwhile.
    void Run(const std::string& target) {
        const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        const HRESULT hr = ::URLDownloadToFileA(nullptr, url_.c_str(), part_.c_str(), 0, this);
        if (SUCCEEDED(com)) {
            ::CoUninitialize();
        }
        const bool good = SUCCEEDED(hr) && !aborted_ && WithinSize();
        if (::InterlockedCompareExchange(&state_, kFinished, kRunning) == kRunning && good) {
            ::MoveFileExA(part_.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
            succeeded_ = SUCCEEDED(hr);
        }
        ::DeleteFileA(part_.c_str());
    }

    // Called by the caller when the time bound has passed. True when the worker had already
    // finished (its result stands); false when it is abandoned and will clean up after itself.
    bool GiveUp() {
        Abort();
        return ::InterlockedCompareExchange(&state_, kAbandoned, kRunning) == kFinished;
    }

    bool Succeeded() const { return succeeded_; }
    ULONGLONG Deadline() const { return deadline_; }

private:
    static constexpr LONG kRunning = 0;
    static constexpr LONG kFinished = 1;
    static constexpr LONG kAbandoned = 2;

    ~BoundedDownload() = default;

    void Abort() { ::InterlockedExchange(&aborted_, 1); }
    HRESULT Verdict() {
        if (::GetTickCount64() > deadline_) {
            Abort();
        }
        return aborted_ ? E_ABORT : S_OK;
    }
    // The platform may finish a download that the callback asked to abort: check the file too.
    bool WithinSize() const {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!::GetFileAttributesExA(part_.c_str(), GetFileExInfoStandard, &data)) {
            return false;
        }
        return data.nFileSizeHigh == 0 && data.nFileSizeLow <= limit_;
    }

    std::string url_;
    std::string part_;
    std::size_t limit_;
    ULONGLONG deadline_;
    volatile LONG refs_ = 1;
    volatile LONG aborted_ = 0;
    volatile LONG state_ = kRunning;
    int redirects_ = 0;
    bool succeeded_ = false;
};

struct WorkerStart {
    BoundedDownload* download;
    std::string target;
};

DWORD WINAPI DownloadWorker(LPVOID param) {
    auto* start = static_cast<WorkerStart*>(param);
    start->download->Run(start->target);
    start->download->Release();
    delete start;
    return 0;
}

} // namespace

bool DownloadPageToFile(const std::string& sUrl, const std::string& sFile,
                        const DownloadBounds& bounds) {
    ::DeleteFileA(sFile.c_str());
    // The worker writes beside the target and renames, so an abandoned fetch that finishes late
    // never shows up under the target's name.
    auto* download = new BoundedDownload(sUrl, sFile + ".part", bounds);
    download->AddRef(); // the worker's reference
    auto* start = new WorkerStart{download, sFile};
    win32::KernelHandle thread(::CreateThread(nullptr, 0, DownloadWorker, start, 0, nullptr));
    if (!thread) {
        download->Release();
        download->Release();
        delete start;
        return false;
    }
    const ULONGLONG now = ::GetTickCount64();
    const DWORD wait =
        download->Deadline() > now ? static_cast<DWORD>(download->Deadline() - now) : 0;
    bool finished = ::WaitForSingleObject(thread.get(), wait) == WAIT_OBJECT_0;
    if (!finished && download->GiveUp()) {
        // The worker finished at the bound: let it complete its hand-over.
        ::WaitForSingleObject(thread.get(), INFINITE);
        finished = true;
    }
    const bool ok = finished && download->Succeeded();
    download->Release();
    if (!ok) {
        ::DeleteFileA(sFile.c_str());
    }
    return ok;
}

void DeletePageCacheEntry(const std::string& sUrl) {
    const int n = ::MultiByteToWideChar(CP_ACP, 0, sUrl.c_str(), -1, nullptr, 0);
    if (n <= 0) {
        return;
    }
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, sUrl.c_str(), -1, wide.data(), n);
    ::DeleteUrlCacheEntryW(wide.c_str());
}

} // namespace platform

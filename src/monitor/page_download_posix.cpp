// POSIX page download: libcurl, straight into the target file. Only libcurl and stdio here;
// the file is removed again whenever the fetch does not complete within its bounds.
#include "monitor/page_download.h"

#include <cstdio>
#include <curl/curl.h>
#include <unistd.h>

namespace platform {

namespace {

class CurlGlobal {
public:
    CurlGlobal() : ok_(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}
    ~CurlGlobal() {
        if (ok_) {
            curl_global_cleanup();
        }
    }
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_;
};

class CurlEasy {
public:
    CurlEasy() : h_(curl_easy_init()) {}
    ~CurlEasy() {
        if (h_ != nullptr) {
            curl_easy_cleanup(h_);
        }
    }
    CurlEasy(const CurlEasy&) = delete;
    CurlEasy& operator=(const CurlEasy&) = delete;
    CURL* get() const { return h_; }

private:
    CURL* h_;
};

class OutputFile {
public:
    explicit OutputFile(const std::string& path) : f_(std::fopen(path.c_str(), "wb")) {}
    ~OutputFile() { close(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    std::FILE* get() const { return f_; }
    // False when buffered data could not be written out.
    bool close() {
        if (f_ == nullptr) {
            return true;
        }
        const bool ok = std::fclose(f_) == 0;
        f_ = nullptr;
        return ok;
    }

private:
    std::FILE* f_;
};

struct Sink {
    std::FILE* file;
    std::size_t written = 0;
    std::size_t limit;
};

// Returning less than offered makes libcurl stop with a write error: past the size bound, or
// when the disk refuses the data.
std::size_t WriteToSink(char* data, std::size_t size, std::size_t count, void* userdata) {
    auto* sink = static_cast<Sink*>(userdata);
    const std::size_t n = size * count;
    if (n > sink->limit - sink->written) {
        return 0;
    }
    if (std::fwrite(data, 1, n, sink->file) != n) {
        return 0;
    }
    sink->written += n;
    return n;
}

bool Fetch(const std::string& sUrl, OutputFile& file, const DownloadBounds& bounds) {
    CurlGlobal global;
    if (!global.ok()) {
        return false;
    }
    CurlEasy easy;
    CURL* h = easy.get();
    if (h == nullptr) {
        return false;
    }
    Sink sink{file.get(), 0, bounds.bytes};
    const auto ms = static_cast<long>(bounds.time.count());
    bool set = curl_easy_setopt(h, CURLOPT_URL, sUrl.c_str()) == CURLE_OK;
    // Both lists limit the first request and every redirect; file:, ftp: and the rest are refused.
    set = set && curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, ms) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE,
                                  static_cast<curl_off_t>(bounds.bytes)) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, WriteToSink) == CURLE_OK;
    set = set && curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink) == CURLE_OK;
    if (!set) {
        return false;
    }
    return curl_easy_perform(h) == CURLE_OK;
}

} // namespace

bool DownloadPageToFile(const std::string& sUrl, const std::string& sFile,
                        const DownloadBounds& bounds) {
    OutputFile file(sFile);
    if (file.get() == nullptr) {
        return false;
    }
    const bool fetched = Fetch(sUrl, file, bounds);
    if (file.close() && fetched) {
        return true;
    }
    ::unlink(sFile.c_str());
    return false;
}

void DeletePageCacheEntry(const std::string&) {}

} // namespace platform

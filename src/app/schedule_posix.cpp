// POSIX daily task: one cron entry file per task name in $ADDRWATCH_CRON_DIR (default
// /etc/cron.d), run as root. Written whole to a hidden temporary file beside it (cron skips names
// with dots) and renamed into place, so cron never reads half an entry.
#include "app/schedule.h"

#include "app/cron_entry.h"
#include "common/app_exe_path.h"
#include "common/dprint.h"
#include "common/vb_error.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace modGetExternalIP {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { Close(); }
    int get() const { return fd_; }
    bool Close() {
        const bool ok = fd_ < 0 || ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

private:
    int fd_;
};

VbError ErrorFromErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return {76, "Path not found"};
    case EACCES:
    case EPERM:
    case EROFS:
        return {70, "Permission denied"};
    case ENOSPC:
    case EDQUOT:
        return {61, "Disk full"};
    default:
        return {75, "Path/File access error"};
    }
}

void Report(const char* routine, const VbError& error, const std::string& label,
            const std::string& value) {
    CommonModule::DPrint(std::string("modGetExternalIP\\") + routine +
                         " VB ERROR: " + std::to_string(error.number) + " " + error.description);
    CommonModule::DPrint("\t- " + label + "=" + value);
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

void CreateScheduleEntry(const std::string& startTime, const std::string& taskName) {
    const auto text = CronEntryText(startTime, CommonModule::AppExePath());
    if (!text) {
        Report("CreateScheduleEntry", vb_errors::InvalidArgument(), "sTime", startTime);
        return;
    }
    const std::string folder = CronFolder();
    const std::string file = folder + CronFileName(taskName);
    std::string temp = folder + "." + CronFileName(taskName) + ".XXXXXX";
    std::vector<char> pattern(temp.begin(), temp.end());
    pattern.push_back('\0');
    FileDescriptor fd(::mkstemp(pattern.data()));
    if (fd.get() < 0) {
        Report("CreateScheduleEntry", ErrorFromErrno(errno), "sFile", file);
        return;
    }
    temp = pattern.data();
    int error = 0;
    if (!WriteAll(fd.get(), *text) || ::fchmod(fd.get(), 0644) != 0 || ::fsync(fd.get()) != 0) {
        error = errno;
    }
    if (!fd.Close() && error == 0) {
        error = errno;
    }
    if (error == 0 && ::rename(temp.c_str(), file.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temp.c_str());
        Report("CreateScheduleEntry", ErrorFromErrno(error), "sFile", file);
    }
}

void DeleteScheduleEntry(const std::string& taskName) {
    const std::string file = CronFolder() + CronFileName(taskName);
    if (::unlink(file.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR) {
        Report("DeleteScheduleEntry", ErrorFromErrno(errno), "sFile", file);
    }
}

} // namespace modGetExternalIP

// POSIX daily task: one cron entry file per task name in $ADDRWATCH_CRON_DIR (default
// /etc/cron.d), run as root. Written whole to a hidden temporary file beside it (cron skips names
// with dots) and renamed into place, so cron never reads half an entry. A start-up check is a
// line of the same file, so it comes and goes with it.
#include "app/schedule_backend.h"

#include "app/cron_entry.h"
#include "common/app_exe_path.h"
#include "common/dprint.h"
#include "common/vb_error.h"

#include "common/posix_fd.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace modGetExternalIP::schedule_backend {

namespace {

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

bool MakeEntries(const std::string& startTime, const std::string& taskName,
                 const ScheduleOptions& options) {
    const auto text = CronEntryText(startTime, CommonModule::AppExePath(), options);
    if (!text) {
        Report("CreateScheduleEntry", vb_errors::InvalidArgument(), "sTime", startTime);
        return false;
    }
    const std::string folder = CronFolder();
    const std::string file = folder + CronFileName(taskName);
    std::string temp = folder + "." + CronFileName(taskName) + ".XXXXXX";
    std::vector<char> pattern(temp.begin(), temp.end());
    pattern.push_back('\0');
    posix::UniqueFd fd(::mkstemp(pattern.data()));
    if (fd.get() < 0) {
        Report("CreateScheduleEntry", ErrorFromErrno(errno), "sFile", file);
        return false;
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
        return false;
    }
    return options.atStartup;
}

void RemoveEntries(const std::string& taskName, bool /*startup: a line of the same file*/) {
    const std::string file = CronFolder() + CronFileName(taskName);
    if (::unlink(file.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR) {
        Report("DeleteScheduleEntry", ErrorFromErrno(errno), "sFile", file);
    }
}

} // namespace modGetExternalIP::schedule_backend

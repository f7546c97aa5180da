// POSIX process start and watch: the command text is split by the Windows rules and started with
// posix_spawn; waitpid(WNOHANG) stands in for the exit-code query. Nothing else lives here.
#include "common/shell_process.h"

#include "common/app_exe_path.h"
#include "common/windows_command_line.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {

namespace {

VbError ErrorFromErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return {53, "File not found"};
    case EACCES:
    case EPERM:
        return {70, "Permission denied"};
    default:
        return {5, std::strerror(error)};
    }
}

// Children started without a watch, reaped whenever the launcher runs again so they do not
// linger as zombies for the life of an open window.
std::vector<pid_t>& Unwatched() {
    static std::vector<pid_t> pids;
    return pids;
}

void ReapUnwatched() {
    auto& pids = Unwatched();
    std::erase_if(pids, [](pid_t pid) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
    });
}

class PosixProcess final : public StartedProcess {
public:
    explicit PosixProcess(pid_t pid) : pid_(pid) {}
    PosixProcess(const PosixProcess&) = delete;
    PosixProcess& operator=(const PosixProcess&) = delete;
    ~PosixProcess() override {
        if (!ended_) {
            Unwatched().push_back(pid_);
            ReapUnwatched();
        }
    }

    // A child of this process can always be watched.
    bool OpenForQuery() override { return true; }

    Outcome<unsigned long> ExitCode() override {
        if (ended_) {
            return code_;
        }
        int status = 0;
        pid_t r;
        do {
            r = ::waitpid(pid_, &status, WNOHANG);
        } while (r < 0 && errno == EINTR);
        if (r == 0) {
            return kStillActive;
        }
        if (r < 0) {
            ended_ = true; // nothing left to reap
            return ErrorFromErrno(errno);
        }
        ended_ = true;
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128ul + WTERMSIG(status);
        return code_;
    }

private:
    pid_t pid_;
    bool ended_ = false;
    unsigned long code_ = 0;
};

// A bare program name is looked for in the program's folder first, as on Windows, then on PATH.
std::string ProgramToRun(const std::string& name, bool& searchPath) {
    searchPath = false;
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const std::string beside = CommonModule::AppPath() + name;
    if (::access(beside.c_str(), X_OK) == 0) {
        return beside;
    }
    searchPath = true;
    return name;
}

} // namespace

Outcome<std::unique_ptr<StartedProcess>> StartProcess(const std::string& command,
                                                      int /*windowStyle*/) {
    ReapUnwatched();
    std::vector<std::string> args = CommonModule::SplitWindowsCommandLine(command);
    if (args.empty() || args.front().empty()) {
        return VbError{53, "File not found"};
    }
    bool searchPath = false;
    const std::string program = ProgramToRun(args.front(), searchPath);
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc =
        searchPath ? ::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ)
                   : ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (rc != 0) {
        return ErrorFromErrno(rc);
    }
    return std::unique_ptr<StartedProcess>(std::make_unique<PosixProcess>(pid));
}

void SleepMilliseconds(unsigned milliseconds) {
    timespec ts{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

} // namespace platform

#include "app/lock_holders_posix.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace posix {

namespace {

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    while (!line.empty()) {
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos) {
            break;
        }
        line.remove_prefix(start);
        const auto end = line.find_first_of(" \t");
        words.push_back(line.substr(0, end));
        line.remove_prefix(end == std::string_view::npos ? line.size() : end);
    }
    return words;
}

template <typename T>
bool Number(std::string_view text, T& value, int base = 10) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// "MAJ:MIN:INODE", the device numbers in hexadecimal.
bool SameFile(std::string_view id, dev_t device, ino_t inode) {
    const auto first = id.find(':');
    const auto second = first == std::string_view::npos ? first : id.find(':', first + 1);
    unsigned int high = 0;
    unsigned int low = 0;
    unsigned long long number = 0;
    return second != std::string_view::npos && Number(id.substr(0, first), high, 16) &&
           Number(id.substr(first + 1, second - first - 1), low, 16) &&
           Number(id.substr(second + 1), number) && high == major(device) && low == minor(device) &&
           number == inode;
}

// False when the file cannot be opened.
bool ReadProcFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// The program a process runs; the kernel marks one replaced on disk (an upgrade) " (deleted)".
std::string ProgramOf(const std::string& exeLink) {
    std::string path(4096, '\0');
    const ssize_t n = ::readlink(exeLink.c_str(), path.data(), path.size());
    path.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted)) {
        path.resize(path.size() - kDeleted.size());
    }
    return path;
}

} // namespace

std::vector<pid_t> FlockHolders(std::string_view procLocks, dev_t device, ino_t inode) {
    std::vector<pid_t> holders;
    while (!procLocks.empty()) {
        const auto end = procLocks.find('\n');
        const auto words = Words(procLocks.substr(0, end));
        procLocks.remove_prefix(end == std::string_view::npos ? procLocks.size() : end + 1);
        // "1: FLOCK  ADVISORY  WRITE 2370 00:19:1180 0 EOF"; a waiter's line has "->" after the
        // number.
        pid_t pid = 0;
        if (words.size() >= 6 && words[1] == "FLOCK" && Number(words[4], pid) &&
            SameFile(words[5], device, inode)) {
            holders.push_back(pid);
        }
    }
    return holders;
}

std::string NotACheckRun(pid_t pid) {
    const std::string process = "process " + std::to_string(pid);
    const std::string folder = "/proc/" + std::to_string(pid);
    std::string status;
    if (pid > 0) {
        ReadProcFile(folder + "/status", status);
    }
    // "Uid:\treal\teffective\tsaved\tfilesystem"
    const auto at = status.find("\nUid:");
    if (at == std::string::npos) {
        return process + " (gone or not visible)";
    }
    const auto end = status.find('\n', at + 1);
    const auto words = Words(std::string_view(status).substr(at + 1, end - at - 1));
    uid_t user = 0;
    if (words.size() < 3 || !Number(words[2], user) || user != ::geteuid()) {
        return process + " of user " + std::string(words.size() >= 3 ? words[2] : "?");
    }
    const std::string program = ProgramOf(folder + "/exe");
    if (program.empty() || program != ProgramOf("/proc/self/exe")) {
        return process + " (" + program + ")";
    }
    return {};
}

LockHolders WhoHoldsTheLock(int fd) {
    LockHolders holders;
    struct stat st {};
    std::string table;
    if (::fstat(fd, &st) != 0 || !ReadProcFile("/proc/locks", table)) {
        holders.others.push_back("/proc/locks cannot be read");
        return holders;
    }
    for (const pid_t pid : FlockHolders(table, st.st_dev, st.st_ino)) {
        if (std::string what = NotACheckRun(pid); what.empty()) {
            holders.checkRun = true;
        } else {
            holders.others.push_back(std::move(what));
        }
    }
    return holders;
}

} // namespace posix

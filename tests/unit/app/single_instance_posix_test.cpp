// The POSIX check-run guard: the lock file is made private without being replaced, files that
// are not a lock of ours are refused and left as they are, and the lock table is read right.
#include "app/lock_holders_posix.h"
#include "app/single_instance.h"

#include "support/debug_capture.h"
#include "support/environment.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using modGetExternalIP::SingleInstance;
using testing_support::ScopedEnvironment;

struct stat Stat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

class CheckRunGuard : public ::testing::Test {
protected:
    std::string State() const { return folder_.File("state"); }
    std::string Lock() const { return State() + "/check-run.lock"; }

    testing_support::TempFolder folder_;
    ScopedEnvironment state_{"ADDRWATCH_STATE_DIR", State()};
};

TEST_F(CheckRunGuard, CreatesPrivateFoldersAndLockAndStopsASecondRun) {
    const ScopedEnvironment deeper("ADDRWATCH_STATE_DIR", State() + "/inner");
    ::chmod(folder_.Path().c_str(), 0755);
    const mode_t mask = ::umask(0);
    const SingleInstance first;
    ::umask(mask);
    ASSERT_TRUE(first.Acquired());
    EXPECT_EQ(Stat(State()).st_mode & 07777, 0700u);
    EXPECT_EQ(Stat(State() + "/inner").st_mode & 07777, 0700u);
    EXPECT_EQ(Stat(folder_.Path().string()).st_mode & 07777, 0755u) << "an existing parent";
    EXPECT_EQ(Stat(State() + "/inner/check-run.lock").st_mode & 07777, 0600u);
    // A second guard is another open file: the lock table names this process, a check run.
    testing_support::DebugCapture log;
    const SingleInstance second;
    EXPECT_FALSE(second.Acquired());
    EXPECT_TRUE(log.Messages().empty());
}

// Waiting for the guard (as "Send Test Email" does before it renews a token): it is had as soon
// as its holder lets go, and not at all while the holder keeps it past the wait.
TEST_F(CheckRunGuard, AwaitingTheGuardEndsWhenItsHolderLetsGoOrAtTheBound) {
    using std::chrono::milliseconds;
    auto holder = std::make_unique<SingleInstance>();
    ASSERT_TRUE(holder->Acquired());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(modGetExternalIP::AwaitSingleInstance(milliseconds(300))->Acquired());
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(300));
    std::thread release([&holder] {
        std::this_thread::sleep_for(milliseconds(200));
        holder.reset();
    });
    EXPECT_TRUE(modGetExternalIP::AwaitSingleInstance(std::chrono::seconds(60))->Acquired());
    release.join();
}

TEST_F(CheckRunGuard, AnOlderOrForeignLockFileIsPutRightInPlace) {
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || nobody == nullptr) {
        GTEST_SKIP() << "giving the file to another user needs root";
    }
    fs::create_directories(State());
    folder_.Write("state/check-run.lock", "");
    ASSERT_EQ(::chown(Lock().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(::chmod(Lock().c_str(), 04644), 0);
    const ino_t inode = Stat(Lock()).st_ino;

    const SingleInstance guard;
    EXPECT_TRUE(guard.Acquired());
    const struct stat st = Stat(Lock());
    EXPECT_EQ(st.st_ino, inode) << "never replaced: a run may hold a lock on that inode";
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, ::geteuid());
}

TEST_F(CheckRunGuard, WhatIsNotALockFileOfOursIsLeftAloneAndTheRunGoesOn) {
    fs::create_directories(State());
    const std::string other = folder_.File("other");
    const struct {
        const char* what;
        void (*plant)(const std::string& lock, const std::string& other);
        const char* reason;
    } cases[] = {
        {"a link", [](const std::string& l, const std::string& o) { fs::create_symlink(o, l); },
         "Too many levels of symbolic links"},
        {"a hard link",
         [](const std::string& l, const std::string& o) { fs::create_hard_link(o, l); },
         "the file has other names"},
        {"a folder", [](const std::string& l, const std::string&) { fs::create_directory(l); },
         "Is a directory"},
        {"a FIFO", [](const std::string& l, const std::string&) { ::mkfifo(l.c_str(), 0644); },
         "not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        folder_.Write("other", "someone's file");
        ::chmod(other.c_str(), 0644);
        c.plant(Lock(), other);
        testing_support::DebugCapture log;
        {
            const SingleInstance guard;
            EXPECT_TRUE(guard.Acquired());
        }
        ASSERT_EQ(log.Messages().size(), 1u);
        EXPECT_EQ(log.Messages()[0],
                  "\tSingleInstance: " + Lock() + ": " + c.reason + "; running unguarded");
        EXPECT_EQ(Stat(other).st_mode & 07777, 0644u);
        EXPECT_EQ(folder_.Read("other"), "someone's file");
        fs::remove(Lock());
    }
}

TEST(LockTable, NamesTheFlockHoldersOfOneFileOnly) {
    const dev_t device = makedev(0xfd, 0x01);
    const ino_t inode = 1180;
    const std::string table = "1: FLOCK  ADVISORY  WRITE 2370 fd:01:1180 0 EOF\n"
                              "1: -> FLOCK  ADVISORY  WRITE 2371 fd:01:1180 0 EOF\n"
                              "2: FLOCK  ADVISORY  READ 2372 fd:01:1180 0 EOF\n"
                              "3: POSIX  ADVISORY  WRITE 2373 fd:01:1180 0 EOF\n"
                              "4: OFDLCK ADVISORY  WRITE -1 fd:01:1180 0 EOF\n"
                              "5: FLOCK  ADVISORY  WRITE 2374 fd:01:11800 0 EOF\n"
                              "6: FLOCK  ADVISORY  WRITE 2375 fd:02:1180 0 EOF\n"
                              "7: FLOCK  ADVISORY  WRITE 2376 01:01:1180 0 EOF\n"
                              "8: FLOCK  ADVISORY  WRITE 2377 fd:01:1180 0 EOF";
    EXPECT_EQ(posix::FlockHolders(table, device, inode), (std::vector<pid_t>{2370, 2372, 2377}));
    EXPECT_TRUE(posix::FlockHolders("", device, inode).empty());
}

TEST(LockTable, OnlyAProcessOfThisUserRunningThisProgramIsACheckRun) {
    EXPECT_EQ(posix::NotACheckRun(::getpid()), "");
    EXPECT_EQ(posix::NotACheckRun(::getppid()).rfind("process ", 0), 0u);
    EXPECT_EQ(posix::NotACheckRun(0), "process 0 (gone or not visible)");
}

} // namespace

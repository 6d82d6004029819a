// The File Output Stream never leaves a half-written target: full disks,
// stops, concurrent writers, killed writers and bad targets found before any
// work.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "file_output_stream_filter.h"
#include "stream_test_util.h"
#include "support/filter_harness.h"

namespace vorlan {
namespace {

namespace fs = std::filesystem;
using test::RandomBytes;
using test::SetPath;

size_t EntriesIn(const std::string& dir) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}));
}

// Accepts 300000 bytes, then reports a full disk.
ssize_t DiskFullAfter300k(int fd, const void* data, size_t size) {
  static thread_local size_t written = 0;
  if (fd < 0) {
    written = 0;
    return 0;
  }
  if (written >= 300000) {
    errno = ENOSPC;
    return -1;
  }
  const size_t take = std::min(size, 300000 - written);
  const ssize_t done = ::write(fd, data, take);
  if (done > 0) written += static_cast<size_t>(done);
  return done;
}

struct Writer {
  explicit Writer(const std::string& path) {
    f.Initialize();
    test::Connect(f, 2, src.pin());
    EXPECT_EQ(SetPath(f, path), Ok);
  }
  Result Write(std::vector<uint8_t>& bytes) {
    src.Publish(MakePacket(static_cast<int32_t>(bytes.size()), PacketType::Bytes, bytes.data()));
    return f.Process();
  }
  test::FakeOutput src;
  FileOutputStreamFilter f;
};

TEST(ReplacingFile, AFailedWriteLeavesThePreviousTargetAndNoTemporaryFile) {
  const std::string dir = test::TempDir("outlet-diskfull");
  const std::string path = dir + "/target.bmp";
  const std::vector<uint8_t> old = RandomBytes(30000, 1);
  test::WriteFile(path, old);
  ::chmod(path.c_str(), 0640);

  std::vector<uint8_t> bytes = RandomBytes(2 * 262144 + 5, 2);
  Writer w(path);
  w.f.SetWriteCall(&DiskFullAfter300k);
  DiskFullAfter300k(-1, nullptr, 0);
  EXPECT_EQ(w.Write(bytes), Failed);
  EXPECT_EQ(std::string(w.f.FailureReason()), "cannot write " + path + ": No space left on device");
  EXPECT_TRUE(test::ReadFile(path) == old);
  EXPECT_EQ(EntriesIn(dir), 1u);

  // Without the fault the same filter replaces the target whole, with the
  // permissions of the file it replaced.
  w.f.SetWriteCall(nullptr);
  ASSERT_EQ(w.Write(bytes), Ok) << w.f.FailureReason();
  EXPECT_TRUE(test::ReadFile(path) == bytes);
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms(0640));
  EXPECT_EQ(EntriesIn(dir), 1u);

  // A link to the target stays a link; the file it leads to is replaced.
  const std::string link = dir + "/link.bmp";
  fs::create_symlink(path, link);
  Writer viaLink(link);
  std::vector<uint8_t> other = RandomBytes(777, 3);
  ASSERT_EQ(viaLink.Write(other), Ok) << viaLink.f.FailureReason();
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(test::ReadFile(path) == other);
}

TEST(ReplacingFile, AFullSmallFileSystemKeepsThePreviousTarget) {
  const std::string dir = test::TempDir("outlet-tmpfs");
  if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a small file system here: " << std::strerror(errno);
  }
  const std::string path = dir + "/target.bin";
  const std::vector<uint8_t> old = RandomBytes(30000, 4);
  test::WriteFile(path, old);
  std::vector<uint8_t> bytes = RandomBytes(53000, 5);
  Result result = Ok;
  std::string reason;
  {
    Writer w(path);
    result = w.Write(bytes);
    reason = w.f.FailureReason();
  }
  const std::vector<uint8_t> after = test::ReadFile(path);
  const size_t entries = EntriesIn(dir);
  ::umount(dir.c_str());
  EXPECT_EQ(result, Failed);
  EXPECT_NE(reason.find("No space left on device"), std::string::npos) << reason;
  EXPECT_TRUE(after == old);
  EXPECT_EQ(entries, 1u);
}

TEST(ReplacingFile, TwoWritersOfOneTargetLeaveOneWholeFile) {
  const std::string dir = test::TempDir("outlet-race");
  const std::string path = dir + "/target.bin";
  std::vector<uint8_t> a = RandomBytes(3 * 262144 + 11, 6);
  std::vector<uint8_t> b = RandomBytes(2 * 262144 + 7, 7);
  for (int round = 0; round < 5; ++round) {
    Writer wa(path), wb(path);
    Result ra = Failed, rb = Failed;
    std::thread ta([&] { ra = wa.Write(a); });
    std::thread tb([&] { rb = wb.Write(b); });
    ta.join();
    tb.join();
    EXPECT_EQ(ra, Ok) << wa.f.FailureReason();
    EXPECT_EQ(rb, Ok) << wb.f.FailureReason();
    const std::vector<uint8_t> result = test::ReadFile(path);
    EXPECT_TRUE(result == a || result == b) << "round " << round << ": " << result.size() << " bytes";
    EXPECT_EQ(EntriesIn(dir), 1u);
  }
}

// The pipe on which a blocked writer reports its progress.
int reportFd = -1;

// Writes half of what it is given, tells the parent and waits to be killed.
ssize_t WriteHalfThenBlock(int fd, const void* data, size_t size) {
  const ssize_t done = ::write(fd, data, size / 2);
  [[maybe_unused]] const ssize_t told = ::write(reportFd, "w", 1);
  for (;;) ::pause();
  return done;
}

// A child process caught in the middle of writing `target`: its temporary
// file exists and holds part of the bytes. `temporary` is that file's path.
pid_t StartBlockedWriter(const std::string& target, std::string& temporary) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    ::alarm(60);  // never outlives a test that went wrong
    reportFd = pipeFds[1];
    ReplacingFile file(target, &WriteHalfThenBlock);
    std::string error;
    if (!file.Open(error)) ::_exit(1);
    const std::string line = file.TemporaryPath() + "\n";
    if (::write(reportFd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) ::_exit(1);
    const std::vector<uint8_t> bytes(4096, 7);
    file.Write(bytes.data(), bytes.size(), error);
    ::_exit(1);
  }
  ::close(pipeFds[1]);
  std::string got;
  char c = 0;
  while (pid > 0 && ::read(pipeFds[0], &c, 1) == 1 && c != 'w') got += c;
  ::close(pipeFds[0]);
  if (c != 'w' || got.empty() || got.back() != '\n') return -1;
  temporary = got.substr(0, got.size() - 1);
  return pid;
}

pid_t DeadProcessId() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

TEST(ReplacingFile, TheNextWriteRemovesTemporaryFilesOfWritersThatNoLongerRun) {
  const std::string dir = test::TempDir("outlet-abandoned");
  const std::string target = dir + "/target.bin";
  const std::vector<uint8_t> old = RandomBytes(1000, 8);
  test::WriteFile(target, old);

  std::string killedTemp, liveTemp;
  const pid_t killed = StartBlockedWriter(target, killedTemp);
  const pid_t live = StartBlockedWriter(target, liveTemp);
  ASSERT_GT(killed, 0);
  ASSERT_GT(live, 0);
  ::kill(killed, SIGKILL);
  ::waitpid(killed, nullptr, 0);
  ASSERT_TRUE(fs::exists(killedTemp)) << "a killed writer cannot clean up after itself";
  EXPECT_EQ(fs::file_size(killedTemp), 2048u);
  EXPECT_TRUE(test::ReadFile(target) == old);

  // Names as this process writes them: id, start time, counter, word.
  ReplacingFile mine(target);
  std::string error;
  ASSERT_TRUE(mine.Open(error)) << error;
  const std::string own = fs::path(mine.TemporaryPath()).filename().string();
  const std::string ownPrefix = own.substr(0, own.find('-', std::string(".target.bin.").size()) + 1);
  const std::string afterStart = own.substr(ownPrefix.size());
  const uint64_t start = std::stoull(afterStart.substr(0, afterStart.find('-')));
  const std::string self = ".target.bin." + std::to_string(::getpid());
  const std::string dead = ".target.bin." + std::to_string(DeadProcessId());
  const std::vector<std::string> gone = {
      dead + "-" + std::to_string(start) + "-4-0000abcd.tmp",      // its process ended
      dead + "-5-0000abcd.tmp",                                    // the same, as older writers named it
      self + "-" + std::to_string(start + 1) + "-6-0000abcd.tmp",  // this id, but another process before us
  };
  const std::vector<std::string> kept = {
      self + "-" + std::to_string(start) + "-7-0000abcd.tmp",  // this process may be writing it
      dead + "-8-0000abcd.tmp.bak",                            // not a temporary file
      ".target.bin.x." + std::to_string(DeadProcessId()) + "-9-0000abcd.tmp",  // another target's
      ".other.bin" + dead.substr(std::string(".target.bin").size()) + "-9-0000abcd.tmp",
      dead + "-10-0000ABCD.tmp",                                // not the word a writer writes
      dead + "-0-11-0000abcd.tmp",                              // locked below: someone still writes it
  };
  for (const auto* names : {&gone, &kept}) {
    for (const std::string& name : *names) test::WriteFile(dir + "/" + name, {1});
  }
  fs::create_directory(dir + "/" + dead + "-12-0000abcd.tmp");
  const int locked = ::open((dir + "/" + kept.back()).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(locked, LOCK_EX), 0);
  mine.Abandon();

  Writer w(target);
  std::vector<uint8_t> bytes = RandomBytes(5000, 9);
  ASSERT_EQ(w.Write(bytes), Ok) << w.f.FailureReason();
  EXPECT_TRUE(test::ReadFile(target) == bytes);
  EXPECT_FALSE(fs::exists(killedTemp));
  EXPECT_TRUE(fs::exists(liveTemp)) << "a live writer's file stays";
  for (const std::string& name : gone) EXPECT_FALSE(fs::exists(dir + "/" + name)) << name;
  for (const std::string& name : kept) EXPECT_TRUE(fs::exists(dir + "/" + name)) << name;
  EXPECT_TRUE(fs::is_directory(dir + "/" + dead + "-12-0000abcd.tmp"));

  // Once the writer is gone (here killed as well), its file goes too; the
  // lock alone keeps the last one.
  ::kill(live, SIGKILL);
  ::waitpid(live, nullptr, 0);
  EXPECT_EQ(ReplacingFile::RemoveAbandonedTemporaries(target), 1);
  EXPECT_FALSE(fs::exists(liveTemp));
  ::close(locked);
  EXPECT_EQ(ReplacingFile::RemoveAbandonedTemporaries(target), 1);
}

TEST(ReplacingFile, BadTargetsFailOnTheFirstPassBeforeAnyInput) {
  const std::string dir = test::TempDir("outlet-check");
  const auto firstPass = [](const std::string& path) {
    test::FakeOutput src;  // never publishes: the run has not produced anything yet
    FileOutputStreamFilter f;
    f.Initialize();
    test::Connect(f, 2, src.pin());
    EXPECT_EQ(SetPath(f, path), Ok);
    const Result r = f.Process();
    return r == Failed ? std::string(f.FailureReason()) : std::string("result ") + std::to_string(r);
  };
  EXPECT_EQ(firstPass(dir + "/out.bin"), "result 20") << "a good target waits for its input";
  EXPECT_FALSE(fs::exists(dir + "/out.bin")) << "the check creates nothing";
  EXPECT_EQ(firstPass(dir + "/missing/out.bin"),
            "cannot write " + dir + "/missing/out.bin: the folder " + dir + "/missing does not exist");
  fs::create_directory(dir + "/sub");
  EXPECT_EQ(firstPass(dir + "/sub"), "cannot write " + dir + "/sub: it is a folder");
  test::WriteFile(dir + "/plain", {1, 2, 3});
  EXPECT_NE(firstPass(dir + "/plain/out.bin").find("is not a folder"), std::string::npos);
  EXPECT_EQ(test::ReadFile(dir + "/plain"), (std::vector<uint8_t>{1, 2, 3})) << "nothing is truncated";
  if (::geteuid() != 0) {  // root may write anywhere
    ::chmod((dir + "/plain").c_str(), 0444);
    EXPECT_NE(firstPass(dir + "/plain").find("Permission denied"), std::string::npos);
    ::chmod(dir.c_str(), 0555);
    EXPECT_NE(firstPass(dir + "/new.bin").find("is not writable"), std::string::npos);
    ::chmod(dir.c_str(), 0755);
  }
}

}  // namespace
}  // namespace vorlan

// The File Output Stream never leaves a half-written target: full disks,
// stops, concurrent writers and bad targets found before any work.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
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

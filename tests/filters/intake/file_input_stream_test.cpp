#include "file_input_stream_filter.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "stream_test_util.h"
#include "support/filter_harness.h"
#include "vorlan/file_names.h"

namespace vorlan {
namespace {

namespace fs = std::filesystem;
using test::RandomBytes;
using test::SerializedPath;
using test::SetPath;

std::vector<uint8_t> Published(const Packet& p) {
  const auto* data = static_cast<const uint8_t*>(p.data);
  return std::vector<uint8_t>(data, data + p.length);
}

TEST(FileInputStream, SerializedSettingsRoundTrip) {
  FileInputStreamFilter f;
  Packet none = f.GetConfig(ConfigForm::Serialized);
  ASSERT_EQ(none.length, 4);
  EXPECT_EQ(none.type, static_cast<int32_t>(PacketType::Config));
  EXPECT_EQ(std::memcmp(none.data, "\xFF\xFF\xFF\xFF", 4), 0) << "no path is a missing text";
  FreePacket(none);

  ASSERT_EQ(SetPath(f, "a.bmp"), Ok);
  Packet p = f.GetConfig(ConfigForm::Serialized);
  ASSERT_EQ(p.length, 9);
  EXPECT_EQ(std::memcmp(p.data, "\x05\x00\x00\x00" "a.bmp", 9), 0);

  // The stream of one filter restores the path in another.
  FileInputStreamFilter g;
  ASSERT_EQ(g.ApplyConfig(p, ConfigForm::Serialized), Ok);
  EXPECT_EQ(g.Path(), "a.bmp");
  FreePacket(p);

  const std::string utf8 = "bilder/k\xC3\xA4se \xE2\x82\xAC.bmp";
  ASSERT_EQ(SetPath(g, utf8), Ok);
  EXPECT_EQ(g.Path(), utf8);

  // A missing text clears the path.
  uint8_t missing[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  ASSERT_EQ(g.ApplyConfig(MakePacket(4, PacketType::Config, missing), ConfigForm::Serialized), Ok);
  EXPECT_FALSE(g.Path().has_value());
}

TEST(FileInputStream, MalformedSettingsAreRefusedAndLeaveNoPath) {
  FileInputStreamFilter f;
  ASSERT_EQ(SetPath(f, "keep.bin"), Ok);
  EXPECT_EQ(f.ApplyConfig(MakePacket(0, PacketType::Config, nullptr), ConfigForm::Serialized), Failed);
  EXPECT_EQ(f.Path(), "keep.bin") << "a null payload changes nothing";

  std::vector<uint8_t> cut = SerializedPath("abcdef");
  cut.resize(7);
  EXPECT_EQ(f.ApplyConfig(MakePacket(7, PacketType::Config, cut.data()), ConfigForm::Serialized), Failed);
  EXPECT_FALSE(f.Path().has_value());
  EXPECT_NE(std::string(f.FailureReason()).find("malformed"), std::string::npos);

  ASSERT_EQ(SetPath(f, std::string("a\0b", 3)), Failed);
  EXPECT_FALSE(f.Path().has_value());

  uint8_t negative[4] = {0xFE, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(f.ApplyConfig(MakePacket(4, PacketType::Config, negative), ConfigForm::Serialized), Failed);

  // Unknown forms are ignored.
  ASSERT_EQ(SetPath(f, "x"), Ok);
  EXPECT_EQ(f.ApplyConfig(MakePacket(0, PacketType::Config, nullptr), static_cast<ConfigForm>(7)), Ok);
  EXPECT_EQ(f.Path(), "x");
}

TEST(FileInputStream, NativeSettingsCarryAPointerToThePath) {
  FileInputStreamFilter f, g;
  Packet empty = f.GetConfig(ConfigForm::Native);
  ASSERT_EQ(empty.length, static_cast<int32_t>(sizeof(char*)));
  EXPECT_EQ(g.ApplyConfig(empty, ConfigForm::Native), Failed) << "a null path pointer is refused";
  FreePacket(empty);

  ASSERT_EQ(SetPath(f, "in.bin"), Ok);
  Packet p = f.GetConfig(ConfigForm::Native);
  const char* pointer = nullptr;
  std::memcpy(&pointer, p.data, sizeof pointer);
  EXPECT_STREQ(pointer, "in.bin");
  ASSERT_EQ(g.ApplyConfig(p, ConfigForm::Native), Ok);
  EXPECT_EQ(g.Path(), "in.bin");
  // Applying a filter's own block to itself keeps the text intact.
  ASSERT_EQ(f.ApplyConfig(p, ConfigForm::Native), Ok);
  EXPECT_EQ(f.Path(), "in.bin");
  FreePacket(p);

  const char* text = "other.bin";
  EXPECT_EQ(g.ApplyConfig(MakePacket(4, PacketType::Config, &text), ConfigForm::Native), Failed)
      << "a block too short for a pointer";
  EXPECT_EQ(g.ApplyConfig(MakePacket(8, PacketType::Config, nullptr), ConfigForm::Native), Failed);
  EXPECT_EQ(g.Path(), "in.bin");
}

// Folder 1 reads a relative path from the current folder: what an example
// graph installed read-only uses for a file another example wrote there.
TEST(FileInputStream, FolderFieldReadsFromTheCurrentFolder) {
  const std::string graphFolder = test::TempDir("intake-folder-graph");
  const std::string current = test::TempDir("intake-folder-current");
  test::WriteFile(graphFolder + "/in.bin", RandomBytes(10, 1));
  test::WriteFile(current + "/in.bin", RandomBytes(20, 2));
  FileInputStreamFilter f;
  f.Initialize();
  SetDocumentFolderOf(&f, graphFolder.c_str());
  const fs::path before = fs::current_path();
  fs::current_path(current);
  ASSERT_EQ(test::ApplySerialized(f, SerializedPath("in.bin", 1)), Ok);
  ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
  EXPECT_TRUE(Published(test::Output(f, 2)) == RandomBytes(20, 2));
  f.Reset();
  ASSERT_EQ(SetPath(f, "in.bin"), Ok);
  ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
  EXPECT_TRUE(Published(test::Output(f, 2)) == RandomBytes(10, 1));
  fs::current_path(before);
  ForgetDocumentFolderOf(&f);
}

TEST(FileInputStream, ReadsWholeFilesInChunksWithProgress) {
  const std::string dir = test::TempDir("intake-read");
  struct Case {
    size_t size;
    std::vector<float> progress;
  };
  const std::vector<Case> cases = {
      {0, {0.0f, 1.0f}},
      {1, {0.0f, 1.0f}},
      {262144, {0.0f, 1.0f, 1.0f}},
      {600000, {0.0f, 262144.0f / 600000.0f, 524288.0f / 600000.0f, 1.0f}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("size " + std::to_string(c.size));
    const std::string path = dir + "/f" + std::to_string(c.size) + ".bin";
    const std::vector<uint8_t> bytes = RandomBytes(c.size, 5);
    test::WriteFile(path, bytes);

    FileInputStreamFilter f;
    f.Initialize();
    ASSERT_EQ(SetPath(f, path), Ok);
    test::ProgressRecorder progress;
    progress.Attach(f);
    ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
    EXPECT_EQ(f.state, FilterState::Done);

    const Packet& out = test::Output(f, 2);
    EXPECT_EQ(f.OutPin()->ready, 1);
    EXPECT_EQ(out.type, static_cast<int32_t>(PacketType::Bytes));
    ASSERT_EQ(out.length, static_cast<int32_t>(c.size));
    ASSERT_NE(out.data, nullptr);
    EXPECT_TRUE(Published(out) == bytes);
    ASSERT_EQ(progress.Values().size(), c.progress.size());
    for (size_t i = 0; i < c.progress.size(); ++i) EXPECT_FLOAT_EQ(progress.Values()[i], c.progress[i]);
    EXPECT_EQ(f.pins[1]->ready, 1) << "settings republished on Cfg out";

    EXPECT_EQ(f.Reset(), Ok);
    EXPECT_EQ(f.OutPin()->ready, 0);
    EXPECT_EQ(f.OutPin()->packet.data, nullptr);
    EXPECT_EQ(f.pins[1]->packet.data, nullptr);
  }
}

TEST(FileInputStream, FailuresNameTheFileAndTheReason) {
  const std::string dir = test::TempDir("intake-fail");
  FileInputStreamFilter f;
  f.Initialize();
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_STREQ(f.FailureReason(), "\"path\" is empty: no file selected");
  EXPECT_EQ(f.state, FilterState::Stopped);

  ASSERT_EQ(SetPath(f, ""), Ok);
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_STREQ(f.FailureReason(), "\"path\" is empty: no file selected");

  const std::string missing = dir + "/missing.bmp";
  ASSERT_EQ(SetPath(f, missing), Ok);
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_EQ(std::string(f.FailureReason()), "cannot open " + missing + ": No such file or directory");
  EXPECT_EQ(f.OutPin()->ready, 0);

  ASSERT_EQ(SetPath(f, dir), Ok);
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_EQ(std::string(f.FailureReason()), dir + " is not a regular file");

  // A FIFO without a writer would block a plain open for good; it is
  // refused at once. The child thread keeps a hang from hanging the suite.
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(SetPath(f, fifo), Ok);
  std::promise<Result> fifoResult;
  std::thread reader([&] { fifoResult.set_value(f.Process()); });
  std::future<Result> done = fifoResult.get_future();
  if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    const int unblock = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // lets a blocked open return
    reader.join();
    ::close(unblock);
    FAIL() << "opening a FIFO blocked";
  }
  reader.join();
  EXPECT_EQ(done.get(), Failed);
  EXPECT_EQ(std::string(f.FailureReason()), fifo + " is not a regular file");
  if (fs::exists("/dev/zero")) {
    ASSERT_EQ(SetPath(f, "/dev/zero"), Ok);
    EXPECT_EQ(f.Process(), Failed);
    EXPECT_STREQ(f.FailureReason(), "/dev/zero is not a regular file");
  }

  // A sparse file one byte over what a packet can describe fails before
  // anything is allocated.
  const std::string huge = dir + "/huge.bin";
  test::WriteFile(huge, {});
  fs::resize_file(huge, uintmax_t{1} << 31);
  ASSERT_EQ(SetPath(f, huge), Ok);
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_NE(std::string(f.FailureReason()).find("too large: 2147483648 bytes"), std::string::npos)
      << f.FailureReason();
  EXPECT_EQ(f.OutPin()->ready, 0);
  fs::remove(huge);
}

// The progress callback is a plain function: these globals let it act on
// the filter being tested, between two chunks.
FileInputStreamFilter* current = nullptr;
std::string shrinkPath;
int chunksSeen = 0;

void StopAfterFirstChunk(float fraction) {
  if (fraction > 0.0f && ++chunksSeen == 1) current->Stop();
}

void ShrinkAfterFirstChunk(float fraction) {
  if (fraction > 0.0f && ++chunksSeen == 1) fs::resize_file(shrinkPath, 1000);
}

TEST(FileInputStream, StopEndsTheReadWithinOneChunk) {
  const std::string dir = test::TempDir("intake-stop");
  const std::string path = dir + "/big.bin";
  test::WriteFile(path, RandomBytes(10 * 262144, 5));
  FileInputStreamFilter f;
  f.Initialize();
  ASSERT_EQ(SetPath(f, path), Ok);
  current = &f;
  chunksSeen = 0;
  f.progress = &StopAfterFirstChunk;
  EXPECT_EQ(f.Process(), Stopped);
  EXPECT_EQ(chunksSeen, 1) << "no chunk is read after the stop";
  EXPECT_EQ(f.state, FilterState::Stopped);
  EXPECT_EQ(f.OutPin()->ready, 0);

  // The request is taken by the next call; the one after that reads again.
  f.progress = nullptr;
  EXPECT_EQ(f.Process(), Stopped);
  EXPECT_EQ(f.Process(), Ok);
  EXPECT_EQ(test::Output(f, 2).length, 10 * 262144);
  current = nullptr;
}

TEST(FileInputStream, AFileThatShrinksWhileReadFailsCleanly) {
  const std::string dir = test::TempDir("intake-shrink");
  shrinkPath = dir + "/shrinking.bin";
  test::WriteFile(shrinkPath, RandomBytes(4 * 262144, 5));
  FileInputStreamFilter f;
  f.Initialize();
  ASSERT_EQ(SetPath(f, shrinkPath), Ok);
  chunksSeen = 0;
  f.progress = &ShrinkAfterFirstChunk;
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_EQ(std::string(f.FailureReason()), shrinkPath + " became shorter while it was being read");
  EXPECT_EQ(f.OutPin()->ready, 0);
  EXPECT_EQ(f.state, FilterState::Stopped);
}

}  // namespace
}  // namespace vorlan

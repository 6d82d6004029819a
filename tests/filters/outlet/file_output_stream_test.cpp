#include "file_output_stream_filter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "stream_test_util.h"
#include "support/filter_harness.h"
#include "vorlan/file_names.h"

namespace vorlan {
namespace {

namespace fs = std::filesystem;
using test::ApplySerialized;
using test::RandomBytes;
using test::SerializedPath;
using test::SetPath;

TEST(FileOutputStream, WritesAnyPacketAsItsBytesWithProgress) {
  const std::string dir = test::TempDir("outlet-write");
  const std::string path = dir + "/out.bin";
  std::vector<uint8_t> bytes = RandomBytes(600000, 7);
  test::FakeOutput src;
  FileOutputStreamFilter f;
  f.Initialize();
  test::Connect(f, 2, src.pin());
  ASSERT_EQ(SetPath(f, path), Ok);
  // The packet type is not examined.
  src.Publish(MakePacket(600000, PacketType::Float, bytes.data()));
  test::ProgressRecorder progress;
  progress.Attach(f);
  ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
  EXPECT_EQ(f.state, FilterState::Done);
  EXPECT_TRUE(test::ReadFile(path) == bytes);
  const std::vector<float> expected = {0.0f, 262144.0f / 600000.0f, 524288.0f / 600000.0f, 1.0f};
  ASSERT_EQ(progress.Values().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_FLOAT_EQ(progress.Values()[i], expected[i]);
  EXPECT_EQ(f.pins[1]->ready, 1);

  // An empty packet (even without data) truncates the file to nothing.
  src.Publish(MakePacket(0, PacketType::Bytes, nullptr));
  ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST(FileOutputStream, FailuresNameTheFileAndTheReason) {
  const std::string dir = test::TempDir("outlet-fail");
  std::vector<uint8_t> bytes = RandomBytes(100, 7);
  test::FakeOutput src;
  src.Publish(MakePacket(100, PacketType::Bytes, bytes.data()));

  FileOutputStreamFilter f;
  f.Initialize();
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_STREQ(f.FailureReason(), "\"path\" is empty: no file selected");

  const std::string target = dir + "/target.bin";
  ASSERT_EQ(SetPath(f, target), Ok);
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_STREQ(f.FailureReason(), "input \"In\" is not connected");
  EXPECT_EQ(f.state, FilterState::Stopped);
  EXPECT_FALSE(fs::exists(target)) << "nothing is created without an input";

  test::Connect(f, 2, src.pin());
  const std::string nowhere = dir + "/no/such/folder/out.bin";
  ASSERT_EQ(SetPath(f, nowhere), Ok);
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_EQ(std::string(f.FailureReason()),
            "cannot write " + nowhere + ": the folder " + dir + "/no/such/folder does not exist");

  // A length that does not match a payload is refused before anything is opened.
  src.Publish(MakePacket(-5, PacketType::Bytes, bytes.data()));
  ASSERT_EQ(SetPath(f, target), Ok);
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_FALSE(fs::exists(target));

  // A full disk shows when the buffered bytes are flushed.
  if (fs::exists("/dev/full")) {
    src.Publish(MakePacket(100, PacketType::Bytes, bytes.data()));
    ASSERT_EQ(SetPath(f, "/dev/full"), Ok);
    EXPECT_EQ(f.Process(), Failed);
    EXPECT_STREQ(f.FailureReason(), "cannot write /dev/full: No space left on device");
  }
}

// The trailing folder field: older streams end after the path and keep their
// meaning and their bytes; folder 1 takes a relative path from the current
// folder instead of the graph's, so a graph installed read-only can write
// where its user stands.
TEST(FileOutputStream, FolderFieldChoosesWhereARelativePathLeads) {
  const std::string graphFolder = test::TempDir("outlet-folder-graph");
  const std::string current = test::TempDir("outlet-folder-current");
  std::vector<uint8_t> bytes = RandomBytes(100, 7);
  test::FakeOutput src;
  src.Publish(MakePacket(100, PacketType::Bytes, bytes.data()));
  FileOutputStreamFilter f;
  f.Initialize();
  test::Connect(f, 2, src.pin());
  SetDocumentFolderOf(&f, graphFolder.c_str());
  const fs::path before = fs::current_path();
  fs::current_path(current);

  ASSERT_EQ(SetPath(f, "out.bin"), Ok);
  EXPECT_EQ(f.FolderValue(), 0);
  Packet old = f.GetConfig(ConfigForm::Serialized);
  EXPECT_TRUE(std::vector<uint8_t>(static_cast<uint8_t*>(old.data), static_cast<uint8_t*>(old.data) + old.length) ==
              SerializedPath("out.bin"))
      << "the graph's folder writes the stream without the field";
  FreePacket(old);
  ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
  EXPECT_TRUE(fs::exists(graphFolder + "/out.bin"));
  EXPECT_FALSE(fs::exists(current + "/out.bin"));

  ASSERT_EQ(ApplySerialized(f, SerializedPath("here.bin", 1)), Ok);
  EXPECT_EQ(f.FolderValue(), 1);
  Packet stream = f.GetConfig(ConfigForm::Serialized);
  FileOutputStreamFilter g;
  ASSERT_EQ(g.ApplyConfig(stream, ConfigForm::Serialized), Ok);
  EXPECT_EQ(g.FolderValue(), 1) << "the field crosses to another filter";
  FreePacket(stream);
  // A Native path (the file dialog) keeps the folder.
  const char* text = "there.bin";
  ASSERT_EQ(g.ApplyConfig(MakePacket(sizeof text, PacketType::Config, &text), ConfigForm::Native), Ok);
  EXPECT_EQ(g.FolderValue(), 1);
  f.Reset();
  ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
  EXPECT_TRUE(test::ReadFile(current + "/here.bin") == bytes);
  EXPECT_FALSE(fs::exists(graphFolder + "/here.bin"));
  // An absolute path goes where it says either way.
  ASSERT_EQ(ApplySerialized(f, SerializedPath(graphFolder + "/abs.bin", 1)), Ok);
  f.Reset();
  ASSERT_EQ(f.Process(), Ok) << f.FailureReason();
  EXPECT_TRUE(fs::exists(graphFolder + "/abs.bin"));

  // A stream without the field means the graph's folder again.
  ASSERT_EQ(SetPath(f, "again.bin"), Ok);
  EXPECT_EQ(f.FolderValue(), 0);

  std::vector<uint8_t> cut = SerializedPath("x.bin", 1);
  cut.resize(cut.size() - 2);
  EXPECT_EQ(ApplySerialized(f, cut), Failed);
  EXPECT_NE(std::string(f.FailureReason()).find("the folder is cut short"), std::string::npos);

  ASSERT_EQ(ApplySerialized(f, SerializedPath("x.bin", 7)), Ok) << "settings are checked when a run starts";
  f.Reset();
  EXPECT_EQ(f.Process(), Failed);
  EXPECT_NE(std::string(f.FailureReason()).find("unknown folder for relative paths (7"), std::string::npos);
  EXPECT_FALSE(fs::exists(current + "/x.bin"));
  EXPECT_FALSE(fs::exists(graphFolder + "/x.bin"));

  fs::current_path(before);
  ForgetDocumentFolderOf(&f);
}

FileOutputStreamFilter* current = nullptr;
int chunksSeen = 0;

void StopAfterFirstChunk(float fraction) {
  if (fraction > 0.0f && ++chunksSeen == 1) current->Stop();
}

TEST(FileOutputStream, StopEndsTheWriteWithinOneChunk) {
  const std::string dir = test::TempDir("outlet-stop");
  const std::string path = dir + "/out.bin";
  std::vector<uint8_t> bytes = RandomBytes(10 * 262144, 7);
  test::FakeOutput src;
  src.Publish(MakePacket(static_cast<int32_t>(bytes.size()), PacketType::Bytes, bytes.data()));
  FileOutputStreamFilter f;
  f.Initialize();
  test::Connect(f, 2, src.pin());
  ASSERT_EQ(SetPath(f, path), Ok);
  const std::vector<uint8_t> old = RandomBytes(1000, 3);
  test::WriteFile(path, old);
  current = &f;
  chunksSeen = 0;
  f.progress = &StopAfterFirstChunk;
  EXPECT_EQ(f.Process(), Stopped);
  EXPECT_EQ(chunksSeen, 1);
  EXPECT_EQ(f.state, FilterState::Stopped);
  EXPECT_TRUE(test::ReadFile(path) == old) << "a stopped write leaves the previous file";
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 1)
      << "the temporary file is removed";
  current = nullptr;
}

}  // namespace
}  // namespace vorlan

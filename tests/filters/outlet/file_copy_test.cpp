// A File Input Stream feeding a File Output Stream: the copy must be exact
// whatever the node order, and the target must not be touched before its
// input is ready.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "file_input_stream_filter.h"
#include "file_output_stream_filter.h"
#include "stream_test_util.h"
#include "support/filter_harness.h"

namespace vorlan {
namespace {

namespace fs = std::filesystem;
using test::RandomBytes;
using test::SetPath;

struct CopyGraph {
  CopyGraph(const std::string& from, const std::string& to) {
    source.Initialize();
    target.Initialize();
    EXPECT_EQ(SetPath(source, from), Ok);
    EXPECT_EQ(SetPath(target, to), Ok);
    test::Connect(source, 2, target, 2);
  }
  FileInputStreamFilter source;
  FileOutputStreamFilter target;
};

TEST(FileCopy, CopiesFilesByteForByteInEitherNodeOrder) {
  const std::string dir = test::TempDir("copy");
  const std::vector<size_t> sizes = {0, 1, 262144, 600000, size_t{64} << 20};
  for (size_t size : sizes) {
    for (bool reversed : {false, true}) {
      SCOPED_TRACE("size " + std::to_string(size) + (reversed ? ", output first" : ", input first"));
      const std::string in = dir + "/in.bin";
      const std::string out = dir + "/out.bin";
      const std::vector<uint8_t> bytes = RandomBytes(size, static_cast<unsigned>(size) + reversed);
      test::WriteFile(in, bytes);
      fs::remove(out);

      CopyGraph g(in, out);
      if (reversed) {
        ASSERT_EQ(test::RunFilters({&g.target, &g.source}), Ok) << g.target.FailureReason();
      } else {
        ASSERT_EQ(test::RunFilters({&g.source, &g.target}), Ok) << g.target.FailureReason();
      }
      EXPECT_EQ(fs::file_size(out), size);
      EXPECT_TRUE(test::ReadFile(out) == bytes) << "contents differ";
    }
  }
}

TEST(FileCopy, OutputBeforeItsProducerLeavesTheTargetAloneUntilTheInputIsReady) {
  const std::string dir = test::TempDir("copy-order");
  const std::string in = dir + "/in.bin";
  const std::string out = dir + "/out.bin";
  const std::vector<uint8_t> old = RandomBytes(5000, 1);
  const std::vector<uint8_t> fresh = RandomBytes(300000, 2);
  test::WriteFile(in, fresh);
  test::WriteFile(out, old);

  CopyGraph g(in, out);
  // Pass 1: the output stream finds nothing yet, then the input stream reads.
  EXPECT_EQ(g.target.Process(), InputNotReady);
  EXPECT_EQ(g.target.state, FilterState::Running);
  EXPECT_TRUE(test::ReadFile(out) == old) << "the target was touched before its input was ready";
  EXPECT_EQ(g.target.Process(), InputNotReady) << "asking again changes nothing";
  EXPECT_TRUE(test::ReadFile(out) == old);
  ASSERT_EQ(g.source.Process(), Ok);
  // Pass 2: the output stream writes.
  ASSERT_EQ(g.target.Process(), Ok) << g.target.FailureReason();
  EXPECT_TRUE(test::ReadFile(out) == fresh);
}

TEST(FileCopy, AFailingSourceNeverTruncatesTheTarget) {
  const std::string dir = test::TempDir("copy-fail");
  const std::string out = dir + "/out.bin";
  const std::vector<uint8_t> old = RandomBytes(777, 3);
  test::WriteFile(out, old);
  CopyGraph g(dir + "/missing.bin", out);
  EXPECT_EQ(test::RunFilters({&g.target, &g.source}), Failed);
  EXPECT_EQ(std::string(g.source.FailureReason()),
            "cannot open " + dir + "/missing.bin: No such file or directory");
  EXPECT_TRUE(test::ReadFile(out) == old);
}

}  // namespace
}  // namespace vorlan

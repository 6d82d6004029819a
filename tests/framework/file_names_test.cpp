// Relative file names in settings are taken from the document folder that
// the host hands each filter; absolute ones and unsaved graphs are left
// alone.
#include <gtest/gtest.h>

#include "vorlan/file_names.h"
#include "vorlan/filter_base.h"

namespace vorlan {
namespace {

TEST(FileNames, RelativeNamesAreTakenFromTheFolder) {
  EXPECT_EQ(ResolveFileName("/data/graphs", "in.bmp"), "/data/graphs/in.bmp");
  EXPECT_EQ(ResolveFileName("/data/graphs/", "sub/in.bmp"), "/data/graphs/sub/in.bmp");
  EXPECT_EQ(ResolveFileName("/data/graphs", "../in.bmp"), "/data/graphs/../in.bmp");
  EXPECT_EQ(ResolveFileName("/data/graphs", "/tmp/in.bmp"), "/tmp/in.bmp");
  EXPECT_EQ(ResolveFileName("", "in.bmp"), "in.bmp") << "unsaved: the current folder";
  EXPECT_EQ(ResolveFileName("/data", ""), "") << "no file stays no file";
}

class Dummy : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Dummy", 1, 0, 9999};
  Dummy() : FilterBase(kInfo) {}

 protected:
  Result Work() override { return Ok; }
};

TEST(FileNames, EachFilterKeepsItsOwnFolderUntilForgotten) {
  Dummy a;
  Dummy b;
  EXPECT_EQ(DocumentFolderOf(&a), "");
  SetDocumentFolderOf(&a, "/one");
  SetDocumentFolderOf(&b, "/two");
  EXPECT_EQ(DocumentFolderOf(&a), "/one");
  EXPECT_EQ(DocumentFolderOf(&b), "/two");
  SetDocumentFolderOf(&a, nullptr);
  EXPECT_EQ(DocumentFolderOf(&a), "") << "null: back to the current folder";
  ForgetDocumentFolderOf(&b);
  EXPECT_EQ(DocumentFolderOf(&b), "");
  SetDocumentFolderOf(nullptr, "/ignored");
  EXPECT_EQ(DocumentFolderOf(nullptr), "");
}

}  // namespace
}  // namespace vorlan

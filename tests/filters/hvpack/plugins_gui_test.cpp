// The packer and unpacker libraries as the host loads them: their names and
// ids, and Configure with a user interface present.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <string>

#include "support/filter_harness.h"
#include "vorlan/contract.h"

namespace vorlan {
namespace {

TEST(CodePackerPlugins, IdentifyThemselvesAndHaveNothingToConfigure) {
  struct Expected {
    const char* file;
    const char* library;
    const char* filter;
    int32_t id;
    const char* title;
  } all[] = {
      {"hvpack", "HV Code Packer Library", "HV code packer", 1000, "HV Code Packer settings"},
      {"hvunpack", "HV Code Unpacker Library", "HV code unpacker", 1010, "HV Code Unpacker settings"},
  };
  for (const Expected& e : all) {
    void* handle = test::OpenFilterLibrary(e.file);
    ASSERT_NE(handle, nullptr) << dlerror();
    const auto library = reinterpret_cast<GetFilterLibraryInfoFn>(dlsym(handle, kGetFilterLibraryInfoName))();
    EXPECT_STREQ(library.name, e.library);
    EXPECT_EQ(library.count, 1);
    const FilterInfo info = reinterpret_cast<GetFilterInfoFn>(dlsym(handle, kGetFilterInfoName))(0);
    EXPECT_STREQ(info.name, e.filter);
    EXPECT_EQ(info.id, e.id);
    const auto destroy = reinterpret_cast<DestroyFilterFn>(dlsym(handle, kDestroyFilterName));
    Filter* filter = reinterpret_cast<CreateFilterFn>(dlsym(handle, kCreateFilterName))(0);
    ASSERT_NE(filter, nullptr);
    ASSERT_EQ(filter->Initialize(), Ok);

    bool shown = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || shown) return;
      shown = true;
      EXPECT_EQ(box->windowTitle().toStdString(), e.title);
      EXPECT_EQ(box->text().toStdString(), "There is nothing to configure...");
      box->accept();
    });
    timer.start(20);
    EXPECT_EQ(filter->Configure(), Ok);
    EXPECT_TRUE(shown) << e.file;
    destroy(filter, 0);
    dlclose(handle);
  }
}

}  // namespace
}  // namespace vorlan

// The packer and unpacker libraries as the host loads them: their names and
// ids, and Configure with a user interface present; the packer's dialog.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QTimer>
#include <string>

#include "packer_dialog.h"
#include "support/filter_harness.h"
#include "vorlan/contract.h"

namespace vorlan {
namespace {

TEST(CodePackerPlugins, IdentifyThemselvesAndConfigure) {
  struct Expected {
    const char* file;
    const char* library;
    const char* filter;
    int32_t id;
    const char* title;
    bool hasSettings;
  } all[] = {
      {"hvpack", "HV Code Packer Library", "HV code packer", 1000, "HV Code Packer settings", true},
      {"hvunpack", "HV Code Unpacker Library", "HV code unpacker", 1010, "HV Code Unpacker settings", false},
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
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr || shown) return;
      shown = true;
      EXPECT_EQ(dialog->windowTitle().toStdString(), e.title);
      auto* box = qobject_cast<QMessageBox*>(dialog);
      if (e.hasSettings) {
        EXPECT_EQ(box, nullptr) << "a settings dialog, not a message";
        EXPECT_NE(dialog->findChild<QComboBox*>("formatVersion"), nullptr);
        dialog->reject();
      } else {
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text().toStdString(), "There is nothing to configure...");
        box->accept();
      }
    });
    timer.start(20);
    EXPECT_EQ(filter->Configure(), Ok);
    EXPECT_TRUE(shown) << e.file;
    destroy(filter, 0);
    dlclose(handle);
  }
}

TEST(PackerDialog, ChoosesTheFormatVersion) {
  hvpack::CodePackerSettings s;
  hvpack::PackerDialog dialog(s);
  EXPECT_EQ(dialog.VersionBox()->currentData().toInt(), 1) << "version 1 by default";
  dialog.VersionBox()->setCurrentIndex(dialog.VersionBox()->findData(2));
  dialog.accept();
  EXPECT_EQ(dialog.Settings().formatVersion, 2);

  s.formatVersion = 9;
  hvpack::PackerDialog unknown(s);
  EXPECT_EQ(unknown.VersionBox()->currentIndex(), -1);
  unknown.accept();
  EXPECT_EQ(unknown.Settings().formatVersion, 9) << "nothing chosen keeps the stored value";
}

}  // namespace
}  // namespace vorlan

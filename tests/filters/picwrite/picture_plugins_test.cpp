// The two picture plug-ins as the host sees them: loaded from their .so
// files, created through the exports, configured through their dialogs.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QSpinBox>
#include <QTimer>
#include <functional>

#include "support/filter_harness.h"
#include "vorlan/config_stream.h"
#include "vorlan/contract.h"

namespace vorlan {
namespace {

struct Library {
  explicit Library(const char* name) : handle(test::OpenFilterLibrary(name)) {
    if (handle == nullptr) return;
    libraryInfo = reinterpret_cast<GetFilterLibraryInfoFn>(dlsym(handle, kGetFilterLibraryInfoName));
    filterInfo = reinterpret_cast<GetFilterInfoFn>(dlsym(handle, kGetFilterInfoName));
    create = reinterpret_cast<CreateFilterFn>(dlsym(handle, kCreateFilterName));
    destroy = reinterpret_cast<DestroyFilterFn>(dlsym(handle, kDestroyFilterName));
    release = reinterpret_cast<ReleaseConfigFn>(dlsym(handle, kReleaseConfigName));
  }
  bool Loaded() const { return handle != nullptr && libraryInfo && filterInfo && create && destroy && release; }

  std::vector<uint8_t> Settings(Filter* f) const {
    Packet p = f->GetConfig(ConfigForm::Serialized);
    std::vector<uint8_t> bytes(static_cast<uint8_t*>(p.data), static_cast<uint8_t*>(p.data) + p.length);
    release(p);
    return bytes;
  }

  void* handle;
  GetFilterLibraryInfoFn libraryInfo = nullptr;
  GetFilterInfoFn filterInfo = nullptr;
  CreateFilterFn create = nullptr;
  DestroyFilterFn destroy = nullptr;
  ReleaseConfigFn release = nullptr;
};

// Runs `act` on the next modal widget once Configure's exec() shows it.
void WhenModal(std::function<void(QWidget*)> act) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      timer->stop();
      timer->deleteLater();
      act(modal);
    }
  });
  timer->start(5);
}

std::vector<uint8_t> Ints(std::initializer_list<int32_t> values) {
  ConfigWriter w;
  for (const int32_t v : values) w.Int32(v);
  return w.Bytes();
}

TEST(PicturePlugins, IdentityAndConfigureAppliesOnOkOnly) {
  struct Expected {
    const char* so;
    const char* library;
    const char* filter;
    int32_t id;
    std::vector<uint8_t> defaults;
  };
  const Expected all[] = {
      {"picread", "Image Decoder Library", "Image decoder", 1020, Ints({64})},
      {"picwrite", "Image Encoder Library", "Image encoder", 1030, Ints({0, 90, 8})},
  };
  for (const Expected& e : all) {
    Library lib(e.so);
    ASSERT_TRUE(lib.Loaded()) << e.so << ": " << dlerror();
    EXPECT_STREQ(lib.libraryInfo().name, e.library);
    EXPECT_STREQ(lib.filterInfo(0).name, e.filter);
    EXPECT_EQ(lib.filterInfo(0).id, e.id);
    Filter* f = lib.create(0);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->pinCount, 6);
    EXPECT_STREQ(f->pins[2]->name, e.id == 1020 ? "In" : "Out");
    EXPECT_STREQ(f->pins[5]->name, "B");
    EXPECT_EQ(lib.Settings(f), e.defaults);

    // Cancel keeps the settings, OK stores what the dialog shows.
    WhenModal([](QWidget* w) {
      for (QSpinBox* box : w->findChildren<QSpinBox*>()) box->setValue(7);
      static_cast<QDialog*>(w)->reject();
    });
    ASSERT_EQ(f->Configure(), Ok);
    EXPECT_EQ(lib.Settings(f), e.defaults) << e.so;

    WhenModal([](QWidget* w) {
      const auto combos = w->findChildren<QComboBox*>();
      if (!combos.isEmpty()) combos[0]->setCurrentIndex(combos[0]->findData(1));  // JPEG
      for (QSpinBox* box : w->findChildren<QSpinBox*>()) box->setValue(7);
      static_cast<QDialog*>(w)->accept();
    });
    ASSERT_EQ(f->Configure(), Ok);
    EXPECT_EQ(lib.Settings(f), e.id == 1020 ? Ints({7}) : Ints({1, 7, 8})) << e.so;
    lib.destroy(f, 0);
  }
}

}  // namespace
}  // namespace vorlan

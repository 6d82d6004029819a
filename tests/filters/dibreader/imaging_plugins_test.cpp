// The five imaging plug-ins as the host sees them: loaded from their .so
// files, created through the exports, configured through their dialogs.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>
#include <cstring>
#include <functional>

#include "support/filter_harness.h"
#include "vorlan/config_stream.h"
#include "vorlan/contract.h"

namespace vorlan {
namespace {

class Library {
 public:
  explicit Library(const std::string& name) {
    handle_ = test::OpenFilterLibrary(name);
    if (handle_ == nullptr) return;
    libraryInfo = reinterpret_cast<GetFilterLibraryInfoFn>(dlsym(handle_, kGetFilterLibraryInfoName));
    filterInfo = reinterpret_cast<GetFilterInfoFn>(dlsym(handle_, kGetFilterInfoName));
    create = reinterpret_cast<CreateFilterFn>(dlsym(handle_, kCreateFilterName));
    destroy = reinterpret_cast<DestroyFilterFn>(dlsym(handle_, kDestroyFilterName));
    release = reinterpret_cast<ReleaseConfigFn>(dlsym(handle_, kReleaseConfigName));
  }
  ~Library() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  bool Loaded() const { return handle_ != nullptr && libraryInfo && filterInfo && create && destroy && release; }

  GetFilterLibraryInfoFn libraryInfo = nullptr;
  GetFilterInfoFn filterInfo = nullptr;
  CreateFilterFn create = nullptr;
  DestroyFilterFn destroy = nullptr;
  ReleaseConfigFn release = nullptr;

 private:
  void* handle_ = nullptr;
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

std::vector<uint8_t> Settings(Library& lib, Filter* f) {
  Packet p = f->GetConfig(ConfigForm::Serialized);
  std::vector<uint8_t> bytes(static_cast<uint8_t*>(p.data), static_cast<uint8_t*>(p.data) + p.length);
  lib.release(p);
  return bytes;
}

TEST(ImagingPlugins, ExportsAndIdentity) {
  struct Expected {
    const char* so;
    const char* library;
    const char* filter;
    int32_t id;
  };
  const Expected all[] = {
      {"dibreader", "Bmp Decoder Library", "Bmp decoder", 40},
      {"dibwriter", "Bmp Encoder Library", "Bmp encoder", 50},
      {"luma", "Grayscale Conversion Library", "Grayscale conversion", 90},
      {"gauge", "PSNR Enumerator Library", "PSNR enumerator", 210},
      {"readout", "Text Display Library", "Text display", 70},
  };
  for (const Expected& e : all) {
    Library lib(e.so);
    ASSERT_TRUE(lib.Loaded()) << e.so << ": " << dlerror();
    const FilterLibraryInfo li = lib.libraryInfo();
    EXPECT_STREQ(li.name, e.library);
    EXPECT_EQ(li.major, 1);
    EXPECT_EQ(li.count, 1);
    const FilterInfo fi = lib.filterInfo(0);
    EXPECT_STREQ(fi.name, e.filter);
    EXPECT_EQ(fi.id, e.id);
    EXPECT_EQ(lib.filterInfo(1).id, 0);
    EXPECT_EQ(lib.create(1), nullptr);
    Filter* f = lib.create(0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Initialize(), Ok);
    EXPECT_EQ(f->info.id, e.id);
    lib.destroy(f, 7);  // ignored
    f->Deinitialize();
    lib.destroy(f, 0);
  }
}

TEST(ImagingPlugins, FiltersWithoutSettingsSayNothingToConfigure) {
  for (const auto& [so, title] : {std::pair{"dibreader", "BMP Decoder settings"},
                                  std::pair{"dibwriter", "BMP Encoder settings"}}) {
    Library lib(so);
    ASSERT_TRUE(lib.Loaded());
    Filter* f = lib.create(0);
    QString seenTitle, seenText;
    WhenModal([&](QWidget* w) {
      seenTitle = w->windowTitle();
      if (auto* box = qobject_cast<QMessageBox*>(w)) seenText = box->text();
      w->close();
    });
    EXPECT_EQ(f->Configure(), Ok);
    EXPECT_EQ(seenTitle, title);
    EXPECT_EQ(seenText, "There is nothing to configure...");
    lib.destroy(f, 0);
  }
}

TEST(ImagingPlugins, GrayscaleConfigureAppliesOnOkOnly) {
  Library lib("luma");
  ASSERT_TRUE(lib.Loaded());
  Filter* f = lib.create(0);
  const auto before = Settings(lib, f);
  WhenModal([](QWidget* w) {
    w->findChildren<QRadioButton*>()[2]->setChecked(true);
    w->findChildren<QLineEdit*>()[0]->setText("9");
    static_cast<QDialog*>(w)->reject();
  });
  ASSERT_EQ(f->Configure(), Ok);
  EXPECT_EQ(Settings(lib, f), before) << "Cancel changes nothing";

  WhenModal([](QWidget* w) {
    w->findChildren<QRadioButton*>()[4]->setChecked(true);
    w->findChildren<QLineEdit*>()[0]->setText("0.5");
    static_cast<QDialog*>(w)->accept();
  });
  ASSERT_EQ(f->Configure(), Ok);
  ConfigWriter expected;
  expected.Int32(4);
  expected.Float64(0.5);
  expected.Float64(0.333333);
  expected.Float64(0.333333);
  EXPECT_EQ(Settings(lib, f), expected.Bytes());
  lib.destroy(f, 0);
}

TEST(ImagingPlugins, PsnrAndTextDisplayConfigure) {
  Library gauge("gauge");
  ASSERT_TRUE(gauge.Loaded());
  Filter* psnr = gauge.create(0);
  WhenModal([](QWidget* w) {
    w->findChild<QCheckBox*>()->setChecked(true);
    static_cast<QDialog*>(w)->accept();
  });
  ASSERT_EQ(psnr->Configure(), Ok);
  EXPECT_EQ(Settings(gauge, psnr), (std::vector<uint8_t>{1, 0, 0, 0}));
  gauge.destroy(psnr, 0);

  Library readout("readout");
  ASSERT_TRUE(readout.Loaded());
  Filter* text = readout.create(0);
  WhenModal([](QWidget* w) {
    w->findChild<QLineEdit*>()->setText("PSNR");
    static_cast<QDialog*>(w)->accept();
  });
  ASSERT_EQ(text->Configure(), Ok);
  EXPECT_EQ(Settings(readout, text), (std::vector<uint8_t>{4, 0, 0, 0, 'P', 'S', 'N', 'R'}));
  WhenModal([](QWidget* w) {
    w->findChild<QLineEdit*>()->setText("");
    static_cast<QDialog*>(w)->accept();
  });
  ASSERT_EQ(text->Configure(), Ok);
  EXPECT_EQ(Settings(readout, text), (std::vector<uint8_t>{0xff, 0xff, 0xff, 0xff}));
  readout.destroy(text, 0);
}

}  // namespace
}  // namespace vorlan

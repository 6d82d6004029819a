// Configure of the six byte-stream plug-ins, loaded as the host loads them,
// with a QApplication present. A timer plays the user at the modal window.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <string>

#include "support/filter_harness.h"
#include "vorlan/contract.h"

namespace vorlan {
namespace {

class LoadedPlugin {
 public:
  explicit LoadedPlugin(const char* file) {
    handle_ = test::OpenFilterLibrary(file);
    if (handle_ == nullptr) return;
    destroy_ = reinterpret_cast<DestroyFilterFn>(dlsym(handle_, kDestroyFilterName));
    filter_ = reinterpret_cast<CreateFilterFn>(dlsym(handle_, kCreateFilterName))(0);
    filter_->Initialize();
  }
  ~LoadedPlugin() {
    if (filter_ != nullptr) destroy_(filter_, 0);
    if (handle_ != nullptr) dlclose(handle_);
  }
  Filter* filter() { return filter_; }

 private:
  void* handle_ = nullptr;
  DestroyFilterFn destroy_ = nullptr;
  Filter* filter_ = nullptr;
};

// Runs Configure while `act` handles the modal window once it shows.
Result ConfigureWith(Filter& f, const std::function<void(QWidget*)>& act) {
  bool acted = false;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || acted) return;
    acted = true;
    act(modal);
  });
  timer.start(20);
  const Result r = f.Configure();
  EXPECT_TRUE(acted);
  return r;
}

TEST(BytePluginsConfigure, CoderWithoutSettingsShowNothingToConfigure) {
  const std::pair<const char*, const char*> all[] = {
      {"unsqueeze", "Huffman Decoder settings"},
      {"bitpack", "Binary Encoder settings"},
      {"bitunpack", "Binary Decoder settings"},
  };
  for (const auto& entry : all) {
    const char* file = entry.first;
    const char* title = entry.second;
    LoadedPlugin plugin(file);
    ASSERT_NE(plugin.filter(), nullptr) << file;
    const Result r = ConfigureWith(*plugin.filter(), [&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->windowTitle().toStdString(), title);
      EXPECT_EQ(box->text().toStdString(), "There is nothing to configure...");
      box->accept();
    });
    EXPECT_EQ(r, Ok) << file;
  }
}

TEST(BytePluginsConfigure, OkAppliesTheDialogAndRebuildsPins) {
  LoadedPlugin serializer("serializer");
  ASSERT_NE(serializer.filter(), nullptr);
  EXPECT_EQ(ConfigureWith(*serializer.filter(),
                          [](QWidget* modal) {
                            EXPECT_EQ(modal->windowTitle(), "Serializer settings");
                            modal->findChild<QLineEdit*>()->setText("4");
                            qobject_cast<QDialog*>(modal)->accept();
                          }),
            Ok);
  ASSERT_EQ(serializer.filter()->pinCount, 7);
  EXPECT_STREQ(serializer.filter()->pins[6]->name, "4");

  LoadedPlugin deserializer("deserializer");
  ASSERT_NE(deserializer.filter(), nullptr);
  ConfigureWith(*deserializer.filter(), [](QWidget* modal) {
    EXPECT_EQ(modal->windowTitle(), "Deserializer settings");
    ASSERT_NE(modal->findChild<QLabel*>(), nullptr);
    EXPECT_EQ(modal->findChild<QLabel*>()->text(), "Number of output pins");
    EXPECT_EQ(modal->findChild<QLineEdit*>()->text(), "2");
    modal->findChild<QLineEdit*>()->setText("9");
    qobject_cast<QDialog*>(modal)->reject();
  });
  EXPECT_EQ(deserializer.filter()->pinCount, 5) << "Cancel changes nothing";

  LoadedPlugin encoder("squeeze");
  ASSERT_NE(encoder.filter(), nullptr);
  ConfigureWith(*encoder.filter(), [](QWidget* modal) {
    EXPECT_EQ(modal->windowTitle(), "Huffman encoder settings");
    modal->findChild<QLineEdit*>()->setText("6");
    qobject_cast<QDialog*>(modal)->accept();
  });
  Packet settings = encoder.filter()->GetConfig(ConfigForm::Serialized);
  ASSERT_EQ(settings.length, 4);
  EXPECT_EQ(*static_cast<int32_t*>(settings.data), 6);
  std::free(settings.data);
}

}  // namespace
}  // namespace vorlan

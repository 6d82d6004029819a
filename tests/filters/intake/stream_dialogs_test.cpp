// The file dialogs of both streams, driven from a timer while Configure
// waits in the modal dialog. The plug-ins are loaded as the host loads them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "support/filter_harness.h"
#include "vorlan/config_stream.h"
#include "vorlan/contract.h"

namespace vorlan {
namespace {

class LoadedFilter {
 public:
  explicit LoadedFilter(const std::string& library)
      : handle_(test::OpenFilterLibrary(library)) {
    if (handle_ == nullptr) return;
    auto create = reinterpret_cast<CreateFilterFn>(dlsym(handle_, kCreateFilterName));
    destroy_ = reinterpret_cast<DestroyFilterFn>(dlsym(handle_, kDestroyFilterName));
    release_ = reinterpret_cast<ReleaseConfigFn>(dlsym(handle_, kReleaseConfigName));
    filter_ = create(0);
    filter_->Initialize();
  }
  ~LoadedFilter() {
    if (filter_ != nullptr) destroy_(filter_, 0);
    if (handle_ != nullptr) dlclose(handle_);
  }
  Filter* operator->() { return filter_; }
  bool Loaded() const { return filter_ != nullptr; }

  std::optional<std::string> Path() {
    Packet p = filter_->GetConfig(ConfigForm::Serialized);
    ConfigReader reader(p);
    std::optional<std::string> path;
    EXPECT_TRUE(reader.Text(path));
    release_(p);
    return path;
  }

 private:
  void* handle_;
  Filter* filter_ = nullptr;
  DestroyFilterFn destroy_ = nullptr;
  ReleaseConfigFn release_ = nullptr;
};

// Polls for the modal widget of type W and hands it to `act` once.
template <class W>
void WhenShown(std::function<void(W*)> act) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    auto* w = qobject_cast<W*>(QApplication::activeModalWidget());
    if (w != nullptr && w->isVisible()) {  // a closed dialog may linger until deleted
      timer->stop();
      timer->deleteLater();
      act(w);
    }
  });
  timer->start(10);
}

TEST(FileStreamDialogs, OpenDialogSetsAnExistingFileAndCancelKeepsThePath) {
  const std::string dir = test::TempDir("dialog-open");
  const std::string file = dir + "/picture.bmp";
  test::WriteFile(file, {1, 2, 3});
  LoadedFilter f("intake");
  ASSERT_TRUE(f.Loaded());

  QString title;
  QFileDialog::FileMode mode{};
  WhenShown<QFileDialog>([&](QFileDialog* d) {
    title = d->windowTitle();
    mode = d->fileMode();
    d->selectFile(QString::fromStdString(file));
    static_cast<QDialog*>(d)->accept();  // QFileDialog::accept validates the choice
  });
  EXPECT_EQ(f->Configure(), Ok);
  EXPECT_EQ(title, "Select input file");
  EXPECT_EQ(mode, QFileDialog::ExistingFile);
  EXPECT_EQ(f.Path(), file);

  WhenShown<QFileDialog>([](QFileDialog* d) { d->reject(); });
  EXPECT_EQ(f->Configure(), Ok);
  EXPECT_EQ(f.Path(), file) << "cancel keeps the previous path";
}

TEST(FileStreamDialogs, SaveDialogAsksBeforeOverwriting) {
  LoadedFilter f("outlet");
  ASSERT_TRUE(f.Loaded());
  const std::optional<std::string> before = f.Path();

  // Asking before an existing file is replaced is the file dialog's own
  // behaviour; what the filter controls is the mode and that the question
  // is not switched off. Choosing a file goes through the same code as the
  // open dialog above.
  QString title;
  bool save = false;
  bool confirms = false;
  WhenShown<QFileDialog>([&](QFileDialog* d) {
    title = d->windowTitle();
    save = d->acceptMode() == QFileDialog::AcceptSave;
    confirms = !d->testOption(QFileDialog::DontConfirmOverwrite);
    d->reject();
  });
  EXPECT_EQ(f->Configure(), Ok);
  EXPECT_EQ(title, "Select output file");
  EXPECT_TRUE(save);
  EXPECT_TRUE(confirms) << "an existing file is overwritten only after confirmation";
  EXPECT_EQ(f.Path(), before) << "cancel keeps the previous path";
}

}  // namespace
}  // namespace vorlan

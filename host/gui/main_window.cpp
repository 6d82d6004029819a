#include "main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImageReader>
#include <QMimeData>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QStyle>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <chrono>

#include "about_dialog.h"
#include "core/arrange.h"
#include "core/filter_catalog.h"
#include "core/pin_compat.h"
#include "core/placement.h"
#include "core/settings_by_name.h"
#include "graph_viewport.h"
#include "undo_commands.h"
#include "app_icon.h"
#include "core/graph_file.h"
#include "core/graph_text.h"
#include "core/graph_runner.h"
#include "dialog_title_fitter.h"
#include "editor_settings.h"
#include "elided_label.h"
#include "graph_view.h"
#include "insert_dialog.h"
#include "manual_viewer.h"
#include "progress_dialog.h"
#include "properties_panel.h"
#include "quick_add.h"
#include "run_bridge.h"

namespace vorlan::gui {

namespace {

constexpr int kMaxRecentFiles = EditorSettings::kMaxRecentFiles;
constexpr int kStatusMessageMs = 4000;
const QString kGraphFilter = QStringLiteral("Filter graphs (*.gph)");
// Graphs as text (JSON) are read by content whatever their name; Save As
// writes them when this filter is chosen or the name ends in ".json".
const QString kTextGraphFilter = QStringLiteral("Graphs as text (*.vgraph.json *.json)");
const QString kAllFilesFilter = QStringLiteral("All files (*)");

QString Utf8(const char* text) { return QString::fromUtf8(text != nullptr ? text : ""); }

}  // namespace

MainWindow::MainWindow(const host::Registry& registry, QWidget* parent)
    : QMainWindow(parent),
      registry_(registry),
      document_(std::make_unique<host::GraphDocument>(registry, measure_)) {
  resize(800, 600);
  setWindowIcon(ApplicationIcon());
  // Graphs and pictures dropped from a file manager.
  setAcceptDrops(true);
  // Every dialog shown from now on, the plug-ins' included, fits its title.
  QApplication::instance()->installEventFilter(new DialogTitleFitter(this));
  view_ = new GraphView(*document_, this);
  viewport_ = new GraphViewport(view_, this);
  setCentralWidget(viewport_);
  history_ = new GraphHistory(*document_, this);
  view_->SetHistory(history_);
  view_->SetLockCheck([this] { return LockReason(); });
  properties_ = new PropertiesPanel(*document_, *history_, this);
  properties_->SetLockCheck([this] { return LockReason(); });
  propertiesDock_ = new QDockWidget(QStringLiteral("Properties"), this);
  propertiesDock_->setObjectName(QStringLiteral("propertiesDock"));
  propertiesDock_->setWidget(properties_);
  addDockWidget(Qt::RightDockWidgetArea, propertiesDock_);
  progress_ = new ProgressDialog(this);
  bridge_ = new RunBridge(document_->Run(), *progress_, this);

  CreateActions();
  CreateEditActions();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();

  connect(view_, &GraphView::DocumentChanged, this, &MainWindow::UpdateModified);
  auto untracked = [this] {
    changedOutsideHistory_ = true;
    UpdateModified();
  };
  connect(view_, &GraphView::OriginChanged, this, untracked);
  connect(view_, &GraphView::UntrackedChange, this, untracked);
  connect(history_->Stack(), &QUndoStack::indexChanged, this, &MainWindow::UpdateModified);
  connect(history_->Stack(), &QUndoStack::cleanChanged, this, &MainWindow::UpdateModified);
  connect(history_, &GraphHistory::Restored, this, [this](const std::vector<int32_t>& appeared) {
    if (appeared.empty()) {
      view_->ValidateSelection();
    } else {
      view_->SelectNodeIds(appeared);
    }
    viewport_->UpdateBars();
  });
  connect(history_, &GraphHistory::Failed, this, [this](const QString& error) {
    statusBar()->showMessage(QStringLiteral("Undo failed: ") + error, kStatusMessageMs);
  });
  connect(view_, &GraphView::SelectionChanged, this, &MainWindow::UpdateSelectionPanes);
  connect(view_, &GraphView::SelectionChanged, this, &MainWindow::UpdateProperties);
  connect(history_, &GraphHistory::Restored, this, [this] { properties_->Refresh(); });
  connect(properties_, &PropertiesPanel::NodeChanged, this, [this] {
    view_->update();
    viewport_->UpdateBars();
    UpdateSelectionPanes();
    UpdateModified();
  });
  connect(view_, &GraphView::Refused, this, &MainWindow::Refuse);
  connect(view_, &GraphView::QuickAddRequested, this, &MainWindow::OpenQuickAdd);
  connect(progress_, &ProgressDialog::StopClicked, this, &MainWindow::StopGraph);
  connect(progress_, &ProgressDialog::KillClicked, this, &MainWindow::KillGraph);
  connect(bridge_, &RunBridge::StatesChanged, this, [this] {
    view_->update();
    UpdateSelectionPanes();
  });
  connect(bridge_, &RunBridge::RunFailed, view_, &GraphView::MarkFailedNode);
  connect(bridge_, &RunBridge::NodeProgress, this, [this](int nodeId, float fraction) {
    if (!document_->Run().IsRunning()) return;  // reports of a killed run
    view_->SetRunProgress(RunProgress{true, nodeId, fraction});
  });
  connect(bridge_, &RunBridge::RunFinished, this, [this](int result) {
    // The figures of a run that ended stay as they were at its end.
    ShowRunEnded(result);
    view_->SetRunProgress(RunProgress{});
    view_->SetPreviews(CollectPreviews(*document_));
    properties_->Refresh();
    view_->update();
    UpdateSelectionPanes();
    UpdateActions();
  });

  // Run state changes without a report (a killed worker leaving) show up in
  // the commands' enabled state within a fraction of a second.
  auto* poll = new QTimer(this);
  poll->setInterval(200);
  connect(poll, &QTimer::timeout, this, &MainWindow::UpdateActions);
  poll->start();

  panes_[0]->setText(QStringLiteral("Loaded %1 Libraries with %2 Filter prototypes.")
                         .arg(registry_.LibraryCount())
                         .arg(registry_.PrototypeCount()));
  ShowPluginSearch();
  UpdateTitle();
  UpdateActions();
}

MainWindow::~MainWindow() {
  // A worker blocked on a queued call to this thread must be released before
  // the document waits for it: kill, then wait while events are processed.
  document_->Run().Kill();
  WaitForWorker();
  delete viewport_;  // with the view
  viewport_ = nullptr;
  view_ = nullptr;
  delete history_;
  history_ = nullptr;
  document_.reset();
}

void MainWindow::CreateActions() {
  QStyle* s = style();
  auto make = [this](const QString& text, const QIcon& icon, const QString& tip,
                     const QString& toolTip, const QKeySequence& keys) {
    auto* action = new QAction(icon, text, this);
    action->setStatusTip(tip);
    action->setToolTip(toolTip);
    if (!keys.isEmpty()) action->setShortcut(keys);
    return action;
  };
  newAction_ = make(QStringLiteral("&New"), s->standardIcon(QStyle::SP_FileIcon),
                    QStringLiteral("Create a new document"), QStringLiteral("New"), QKeySequence::New);
  openAction_ = make(QStringLiteral("&Open..."), s->standardIcon(QStyle::SP_DialogOpenButton),
                     QStringLiteral("Open an existing document"), QStringLiteral("Open"),
                     QKeySequence::Open);
  saveAction_ = make(QStringLiteral("&Save"), s->standardIcon(QStyle::SP_DialogSaveButton),
                     QStringLiteral("Save the active document"), QStringLiteral("Save"),
                     QKeySequence::Save);
  saveAsAction_ = make(QStringLiteral("Save &As..."), QIcon(),
                       QStringLiteral("Save the active document with a new name"),
                       QStringLiteral("Save As"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  exitAction_ = make(QStringLiteral("E&xit"), QIcon(),
                     QStringLiteral("Quit the application; prompts to save documents"),
                     QStringLiteral("Exit"), QKeySequence(Qt::CTRL | Qt::Key_Q));
  insertAction_ = make(QStringLiteral("&Insert Filter"), s->standardIcon(QStyle::SP_FileDialogNewFolder),
                       QStringLiteral("Inserts new filter into graph"), QStringLiteral("Insert filter"),
                       QKeySequence(Qt::Key_Insert));
  // Delete is handled by the view itself, on key release.
  removeAction_ = make(QStringLiteral("R&emove Filter"), s->standardIcon(QStyle::SP_TrashIcon),
                       QStringLiteral("Removes selected filter\\edge from graph"),
                       QStringLiteral("Remove filter \\edge"), QKeySequence());
  resetAction_ = make(QStringLiteral("R&eset"), s->standardIcon(QStyle::SP_BrowserReload),
                      QStringLiteral("Reset graph and free resources"), QStringLiteral("Reset graph"),
                      QKeySequence(Qt::CTRL | Qt::Key_R));
  runAction_ = make(QStringLiteral("&Run"), s->standardIcon(QStyle::SP_MediaPlay),
                    QStringLiteral("Runs graph"), QStringLiteral("Run graph"), QKeySequence(Qt::Key_F5));
  progressAction_ = make(QStringLiteral("Show &Progress"), QIcon(),
                         QStringLiteral("Shows the Progress dialog of the run"),
                         QStringLiteral("Show progress"), QKeySequence(Qt::CTRL | Qt::Key_P));
  stopAction_ = make(QStringLiteral("&Stop"), s->standardIcon(QStyle::SP_MediaStop),
                     QStringLiteral("Stops running graph"), QStringLiteral("Stop graph"),
                     QKeySequence(Qt::SHIFT | Qt::Key_F5));
  manualAction_ = make(QStringLiteral("&Manual"), QIcon(), QStringLiteral("Opens the manual"),
                       QStringLiteral("Manual"), QKeySequence::HelpContents);
  aboutAction_ = make(QStringLiteral("&About vorlan..."), QIcon(),
                      QStringLiteral("Display program information, version number and copyright"),
                      QStringLiteral("About"), QKeySequence());

  connect(newAction_, &QAction::triggered, this, [this] { NewGraph(); });
  connect(openAction_, &QAction::triggered, this, &MainWindow::Open);
  connect(saveAction_, &QAction::triggered, this, [this] { Save(); });
  connect(saveAsAction_, &QAction::triggered, this, [this] { SaveAs(); });
  connect(exitAction_, &QAction::triggered, this, &QWidget::close);
  connect(insertAction_, &QAction::triggered, this, &MainWindow::ShowInsertDialog);
  connect(removeAction_, &QAction::triggered, this, [this] { view_->RemoveSelected(); });
  connect(resetAction_, &QAction::triggered, this, [this] { ResetGraph(); });
  connect(runAction_, &QAction::triggered, this, &MainWindow::RunGraph);
  connect(stopAction_, &QAction::triggered, this, &MainWindow::StopGraph);
  connect(progressAction_, &QAction::triggered, this, &MainWindow::ShowProgress);
  arrangeAction_ = make(QStringLiteral("&Arrange"), QIcon(), QStringLiteral("Lays the graph out left to right by data flow"),
                        QStringLiteral("Arrange graph"), QKeySequence(Qt::CTRL | Qt::Key_L));
  connect(arrangeAction_, &QAction::triggered, this, [this] { ArrangeGraph(); });
  curvedAction_ = make(QStringLiteral("&Curved Wires"), QIcon(),
                       QStringLiteral("Draws connections as curves leaving and entering their pins"),
                       QStringLiteral("Curved wires"), QKeySequence());
  curvedAction_->setCheckable(true);
  curvedAction_->setChecked(EditorSettings::Flag(QStringLiteral("curvedWires"), true));
  view_->SetCurvedEdges(curvedAction_->isChecked());
  previewsAction_ = make(QStringLiteral("Show P&reviews"), QIcon(),
                         QStringLiteral("Shows the planes nodes published in the last run above them"),
                         QStringLiteral("Show previews"), QKeySequence());
  previewsAction_->setCheckable(true);
  previewsAction_->setChecked(EditorSettings::Flag(QStringLiteral("previews"), true));
  view_->SetShowPreviews(previewsAction_->isChecked());
  connect(previewsAction_, &QAction::toggled, this, [this](bool on) {
    view_->SetShowPreviews(on);
    EditorSettings::SetFlag(QStringLiteral("previews"), on);
  });
  connect(curvedAction_, &QAction::toggled, this, [this](bool on) {
    view_->SetCurvedEdges(on);
    EditorSettings::SetFlag(QStringLiteral("curvedWires"), on);
  });
  connect(manualAction_, &QAction::triggered, this, &MainWindow::OpenManual);
  connect(aboutAction_, &QAction::triggered, this, [this] {
    AboutDialog about(this);
    about.exec();
  });
}

void MainWindow::CreateMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->addAction(newAction_);
  file->addAction(openAction_);
  file->addAction(saveAction_);
  file->addAction(saveAsAction_);
  file->addSeparator();
  recentMenu_ = file->addMenu(QStringLiteral("Recent &Files"));
  file->addSeparator();
  file->addAction(exitAction_);
  recent_ = EditorSettings::RecentFiles();
  RebuildRecentMenu();

  QMenu* graph = menuBar()->addMenu(QStringLiteral("&Graph"));
  graph->addAction(insertAction_);
  graph->addAction(removeAction_);
  graph->addSeparator();
  graph->addAction(resetAction_);
  graph->addAction(runAction_);
  graph->addAction(stopAction_);
  graph->addAction(progressAction_);
  graph->addSeparator();
  graph->addAction(arrangeAction_);

  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  edit->addAction(undoAction_);
  edit->addAction(redoAction_);
  edit->addSeparator();
  edit->addAction(cutAction_);
  edit->addAction(copyAction_);
  edit->addAction(pasteAction_);
  edit->addAction(duplicateAction_);
  edit->addSeparator();
  edit->addAction(selectAllAction_);
  menuBar()->insertMenu(graph->menuAction(), edit);

  QMenu* viewMenu = menuBar()->addMenu(QStringLiteral("&View"));
  viewMenu->addAction(zoomInAction_);
  viewMenu->addAction(zoomOutAction_);
  viewMenu->addAction(zoomFitAction_);
  viewMenu->addAction(zoomResetAction_);
  viewMenu->addSeparator();
  viewMenu->addAction(curvedAction_);
  viewMenu->addAction(previewsAction_);
  viewMenu->addAction(propertiesDock_->toggleViewAction());

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->addAction(manualAction_);
  help->addAction(aboutAction_);
}

void MainWindow::CreateToolBar() {
  QToolBar* bar = addToolBar(QStringLiteral("Toolbar"));
  bar->setObjectName(QStringLiteral("toolbar"));
  bar->setMovable(false);
  bar->setIconSize(QSize(16, 16));
  bar->addAction(newAction_);
  bar->addAction(openAction_);
  bar->addAction(saveAction_);
  bar->addSeparator();
  bar->addAction(insertAction_);
  bar->addAction(removeAction_);
  bar->addSeparator();
  bar->addAction(resetAction_);
  bar->addAction(runAction_);
  bar->addAction(stopAction_);
}

void MainWindow::CreateStatusBar() {
  // Pane right edges at 400 and 700 pixels, the last pane takes the rest; in
  // a narrower window all three shrink and cut their text.
  static constexpr int kWidths[3] = {400, 300, 100};
  for (int i = 0; i < 3; ++i) {
    panes_[i] = new ElidedLabel(kWidths[i]);
    panes_[i]->setObjectName(QStringLiteral("pane%1").arg(i));
    if (i < 2) panes_[i]->setMaximumWidth(kWidths[i]);
    statusBar()->addWidget(panes_[i], i < 2 ? 0 : 1);
  }
  panes_[2]->setText(QStringLiteral("Ready"));
}

void MainWindow::ShowPluginSearch() {
  // The second pane names the folders searched, the tooltip of the first
  // two adds each folder's origin and every library that was not loaded.
  QStringList present;
  QString details = QStringLiteral("Plug-in folders, searched in this order:");
  for (const host::Registry::SearchedFolder& f : registry_.Folders()) {
    const QString path = QString::fromLocal8Bit(f.folder.path.c_str());
    if (f.present) present.append(path);
    details += QStringLiteral("\n  %1 (%2%3)")
                   .arg(path, QString::fromUtf8(host::OriginLabel(f.folder.origin)),
                        f.present ? QString() : QStringLiteral(", absent"));
  }
  for (const host::Registry::RejectedLibrary& r : registry_.Rejected()) {
    details += QStringLiteral("\nNot loaded: %1: %2")
                   .arg(QString::fromLocal8Bit(r.path.c_str()), QString::fromLocal8Bit(r.reason.c_str()));
  }
  QString text = QStringLiteral("Plug-ins from: ") +
                 (present.isEmpty() ? QStringLiteral("no folder") : present.join(QStringLiteral("; ")));
  if (!registry_.Rejected().empty()) {
    text += QStringLiteral(" (%1 not loaded)").arg(registry_.Rejected().size());
  }
  panes_[1]->setText(text);
  panes_[0]->setToolTip(details);
  panes_[1]->setToolTip(details);
}

QString MainWindow::PaneText(int pane) const {
  return pane >= 0 && pane < 3 ? panes_[pane]->text() : QString();
}

QString MainWindow::LockReason() const {
  const host::RunController& run = document_->Run();
  if (run.IsRunning()) return QStringLiteral("a run is in progress");
  if (run.IsBusy()) return QStringLiteral("a stopped run is still ending");
  return QString();
}

void MainWindow::Refuse(const QString& message) { statusBar()->showMessage(message, kStatusMessageMs); }

void MainWindow::WaitForWorker() {
  host::RunController& run = document_->Run();
  while (!run.WaitForWorker(std::chrono::milliseconds(20)))
    QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void MainWindow::UpdateTitle() {
  const QString name = path_.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(path_).fileName();
  setWindowTitle(name + QStringLiteral("[*] - Vorlan"));
}

void MainWindow::SetModified(bool modified) {
  // Saved or loaded: what the file holds is the clean state.
  if (!modified) {
    history_->Stack()->setClean();
    changedOutsideHistory_ = false;
  }
  UpdateModified();
}

void MainWindow::UpdateModified() {
  setWindowModified(!history_->Stack()->isClean() || changedOutsideHistory_ || history_->Open());
}

void MainWindow::UpdateActions() {
  const host::RunController& run = document_->Run();
  const bool running = run.IsRunning();
  const bool busy = run.IsBusy();
  newAction_->setEnabled(!running);
  openAction_->setEnabled(!running);
  recentMenu_->setEnabled(!running);
  insertAction_->setEnabled(!busy);
  removeAction_->setEnabled(!busy);
  resetAction_->setEnabled(!busy);
  runAction_->setEnabled(!running);
  for (QAction* action : {cutAction_, pasteAction_, duplicateAction_, arrangeAction_}) action->setEnabled(!busy);
  if (!busy && !pendingSave_.isEmpty()) SaveGraphAs(QString(pendingSave_));  // a copy: the call clears it
  stopAction_->setEnabled(running);
  progress_->SetRunAlive(running);
  // The panel reads the settings again once the graph is free.
  if (busy != wasBusy_) {
    wasBusy_ = busy;
    properties_->Refresh();
  }
  panes_[2]->setText(running ? QStringLiteral("Running") : busy ? QStringLiteral("Stopping")
                                                                : QStringLiteral("Ready"));
}

void MainWindow::UpdateProperties() {
  const int index = view_->SelectedNode();
  const host::FilterNode* node = index >= 0 && view_->SelectedIds().size() == 1 ? document_->Node(index) : nullptr;
  const int32_t id = node != nullptr ? node->nodeId : -1;
  // A configured node reads its settings afresh; the same node stays put
  // while a field of it is being edited.
  if (id != properties_->NodeId() || !properties_->isAncestorOf(QApplication::focusWidget()))
    properties_->ShowNode(id);
}

void MainWindow::UpdateSelectionPanes() {
  if (view_->SelectedNode() < 0) {
    // Keep the start-up text until something is selected.
    if (!panes_[0]->text().startsWith(QStringLiteral("Loaded "))) {
      panes_[0]->clear();
      panes_[1]->clear();
    }
    return;
  }
  panes_[0]->setText(view_->NodeDescription());
  panes_[1]->setText(view_->NodeState());
}

// ---- File commands -----------------------------------------------------------

bool MainWindow::MaybeSave() {
  if (!isWindowModified() || !promptForUnsaved_) return true;
  const QString name = path_.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(path_).fileName();
  const auto answer = QMessageBox::question(
      this, QStringLiteral("vorlan"), QStringLiteral("Save changes to %1?").arg(name),
      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
  if (answer == QMessageBox::Cancel) return false;
  if (answer == QMessageBox::Yes) return Save();
  return true;
}

bool MainWindow::NewGraph() {
  if (document_->Run().IsRunning()) {
    Refuse(RefusalText(QStringLiteral("New"), LockReason()));
    return false;
  }
  pendingSave_.clear();
  if (!MaybeSave()) return false;
  WaitForWorker();
  document_->Clear();
  history_->Cancel();
  history_->Stack()->clear();
  view_->ClearInteraction();
  view_->ZoomReset();
  path_.clear();
  SetModified(false);
  UpdateTitle();
  view_->update();
  return true;
}

void MainWindow::Open() {
  ReplaceWithGraph(QStringLiteral("Open"), [this] {
    return QFileDialog::getOpenFileName(this, QString(), EditorSettings::LastFolder(),
                                        kGraphFilter + QStringLiteral(";;") + kTextGraphFilter + QStringLiteral(";;") +
                                            kAllFilesFilter);
  });
}

bool MainWindow::OpenGraph(const QString& path) {
  return ReplaceWithGraph(QStringLiteral("Open"), [&path] { return path; });
}

bool MainWindow::ReplaceWithGraph(const QString& command, const std::function<QString()>& choose) {
  if (document_->Run().IsRunning()) {
    Refuse(RefusalText(command, LockReason()));
    return false;
  }
  if (!MaybeSave()) return false;
  const QString path = choose();
  if (path.isEmpty()) return false;
  WaitForWorker();
  pendingSave_.clear();
  const host::GraphLoadResult result = host::LoadGraphFile(*document_, path.toStdString());
  history_->Cancel();
  history_->Stack()->clear();
  view_->ClearInteraction();
  view_->ZoomReset();
  SetModified(false);
  if (!result.ok) {
    path_.clear();
    UpdateTitle();
    view_->update();
    QString text = QString::fromUtf8(host::kFailedToLoadGraph);
    if (!result.error.empty()) text += QStringLiteral("\n") + QString::fromStdString(result.error);
    QMessageBox::critical(this, QStringLiteral("Error"), text);
    return false;
  }
  path_ = QFileInfo(path).absoluteFilePath();
  AddRecentFile(path_);
  UpdateTitle();
  view_->update();
  if (!result.warnings.empty())
    statusBar()->showMessage(QString::fromStdString(result.warnings.front()), kStatusMessageMs);
  return true;
}

bool MainWindow::Save() {
  if (path_.isEmpty()) return SaveAs();
  return SaveGraphAs(path_);
}

bool MainWindow::SaveAs() {
  QString chosen;
  const QString start = !path_.isEmpty() ? path_ : EditorSettings::LastFolder();
  QString path = QFileDialog::getSaveFileName(this, QString(), start, kGraphFilter + QStringLiteral(";;") + kTextGraphFilter,
                                              &chosen);
  if (path.isEmpty()) return false;
  if (QFileInfo(path).suffix().isEmpty()) {
    path += chosen == kTextGraphFilter ? QStringLiteral(".vgraph.json") : QStringLiteral(".gph");
  }
  return SaveGraphAs(path);
}

bool MainWindow::SaveGraphAs(const QString& path) {
  // Settings are read with GetConfig, which must not race a filter's Process.
  if (document_->Run().IsBusy()) {
    pendingSave_ = path;
    statusBar()->showMessage(QStringLiteral("The graph is saved when the run ends."), kStatusMessageMs);
    return false;
  }
  pendingSave_.clear();
  std::string error;
  const host::GraphFormat format =
      host::IsTextGraphName(path.toStdString()) ? host::GraphFormat::Text : host::GraphFormat::Binary;
  if (!host::SaveGraphFile(*document_, path.toStdString(), error, format)) {
    QMessageBox::critical(this, QStringLiteral("Error"),
                          QStringLiteral("Failed to save graph.\n") + QString::fromStdString(error));
    return false;
  }
  path_ = QFileInfo(path).absoluteFilePath();
  AddRecentFile(path_);
  SetModified(false);
  UpdateTitle();
  return true;
}

void MainWindow::AddRecentFile(const QString& path) {
  // Another editor may have added files since this one started.
  recent_ = EditorSettings::RecentFiles();
  recent_.removeAll(path);
  recent_.prepend(path);
  while (recent_.size() > kMaxRecentFiles) recent_.removeLast();
  EditorSettings::SetRecentFiles(recent_);
  EditorSettings::SetLastFolder(QFileInfo(path).absolutePath());
  RebuildRecentMenu();
}

void MainWindow::RebuildRecentMenu() {
  recentMenu_->clear();
  for (int i = 0; i < recent_.size(); ++i) {
    const QString path = recent_[i];
    QAction* action = recentMenu_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(path));
    connect(action, &QAction::triggered, this, [this, path] { OpenGraph(path); });
  }
  recentMenu_->menuAction()->setVisible(!recent_.isEmpty());
}

namespace {

constexpr int32_t kFileInputId = 10;
constexpr int32_t kImageDecoderId = 1020;

bool IsGraphFile(const QString& path) {
  return path.endsWith(QStringLiteral(".gph"), Qt::CaseInsensitive) || host::IsTextGraphName(path.toStdString());
}

bool IsPicture(const QString& path) {
  const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
  return !suffix.isEmpty() && QImageReader::supportedImageFormats().contains(suffix);
}

QStringList LocalFiles(const QMimeData* mime) {
  QStringList files;
  if (mime == nullptr || !mime->hasUrls()) return files;
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile()) files << url.toLocalFile();
  return files;
}

}  // namespace

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  for (const QString& file : LocalFiles(event->mimeData()))
    if (IsGraphFile(file) || IsPicture(file)) {
      event->acceptProposedAction();
      return;
    }
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) { event->acceptProposedAction(); }

void MainWindow::dropEvent(QDropEvent* event) {
  const QStringList files = LocalFiles(event->mimeData());
  const QPoint inView = view_->mapFrom(this, event->position().toPoint());
  if (DropFiles(files, view_->rect().contains(inView) ? inView : view_->rect().center())) event->acceptProposedAction();
}

bool MainWindow::DropFiles(const QStringList& files, QPoint viewPoint) {
  // A graph replaces the document. A picture gets a File Input Stream
  // reading it and an Image decoder behind it, one undo step per picture,
  // placed from the drop point down.
  for (const QString& file : files)
    if (IsGraphFile(file)) return ReplaceWithGraph(QStringLiteral("Drop"), [&file] { return file; });
  const QString reason = LockReason();
  if (!reason.isEmpty()) {
    Refuse(RefusalText(QStringLiteral("Drop"), reason));
    return false;
  }
  const host::FilterPrototype* reader = registry_.FindPrototypeByFilterId(kFileInputId);
  const host::FilterPrototype* decoder = registry_.FindPrototypeByFilterId(kImageDecoderId);
  QPoint at = view_->Zoom().ToClient(QPointF(viewPoint)).toPoint() - QPoint(document_->originX, document_->originY);
  std::vector<int32_t> added;
  for (const QString& file : files) {
    if (!IsPicture(file)) continue;
    if (reader == nullptr || decoder == nullptr || reader->settings == nullptr) {
      statusBar()->showMessage(QStringLiteral("Pictures need the File Input Stream and Image decoder plug-ins."),
                               kStatusMessageMs);
      break;
    }
    history_->Begin();
    const int readerIndex = document_->InsertNode(reader->id);
    host::FilterNode* source = readerIndex >= 0 ? document_->Node(readerIndex) : nullptr;
    std::vector<SettingValue> values;
    std::string error;
    bool ok = source != nullptr && host::ReadNodeSettings(*document_, *source, values, error);
    for (int32_t f = 0; ok && f < reader->settings->fieldCount; ++f)
      if ((reader->settings->fields[f].flags & kSettingPath) != 0)
        values[static_cast<size_t>(f)].text = QFileInfo(file).absoluteFilePath().toStdString();
    ok = ok && host::WriteNodeSettings(*document_, *source, values, error) && document_->RefreshNode(*source);
    const int decoderIndex = ok ? document_->InsertNode(decoder->id) : -1;
    host::FilterNode* image = decoderIndex >= 0 ? document_->Node(decoderIndex) : nullptr;
    if (image == nullptr) {
      history_->Cancel();
      if (source != nullptr) document_->RemoveNode(source->nodeId);
      statusBar()->showMessage(QStringLiteral("The picture could not be added: ") + QString::fromStdString(error),
                               kStatusMessageMs);
      break;
    }
    document_->SetCaption(*source, QFileInfo(file).fileName().left(255).toStdString());
    document_->MoveNode(*source, at.x() - source->x, at.y() - source->y);
    const host::Rect& box = source->geometry.box;
    document_->MoveNode(*image, box.right + 6 * GraphView::kGridSize - image->x, at.y() - image->y);
    const int32_t out = host::FirstMatchingPin(*document_, *source, static_cast<int32_t>(PinKind::Output), 0);
    const int32_t in = host::FirstMatchingPin(*document_, *image, static_cast<int32_t>(PinKind::Input), 0);
    if (out >= 0 && in >= 0) document_->InsertEdge(source->nodeId, out, image->nodeId, in);
    const host::Position shift = host::NearestFreeOffset(*document_, {source->nodeId, image->nodeId}, GraphView::kGridSize);
    for (host::FilterNode* node : {source, image}) {
      document_->MoveNode(*node, shift.x, shift.y);
      document_->MoveEdgeEndsOfNode(*node, shift.x, shift.y);
    }
    history_->Commit(QStringLiteral("Drop Picture"));
    added.push_back(source->nodeId);
    added.push_back(image->nodeId);
    at.ry() = image->geometry.box.bottom + 4 * GraphView::kGridSize;
  }
  if (added.empty()) return false;
  view_->SelectNodeIds(added);
  UpdateModified();
  viewport_->UpdateBars();
  view_->update();
  return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!MaybeSave()) {
    event->ignore();
    return;
  }
  EndRunForExit();
  if (!pendingSave_.isEmpty()) SaveGraphAs(QString(pendingSave_));
  progress_->hide();
  if (insert_ != nullptr) insert_->hide();
  event->accept();
  // Closing the document destroys top-level filter windows: not inside the
  // close event, whose sender may be walking the list of windows.
  QMetaObject::invokeMethod(this, &MainWindow::CloseDocumentAndQuit, Qt::QueuedConnection);
}

void MainWindow::CloseDocumentAndQuit() {
  // Every filter goes and, with it, its display or feedback window, visible
  // or hidden.
  document_->Clear();
  view_->ClearInteraction();
  // The program ends with its main window, whatever else is still open.
  QCoreApplication::quit();
}

void MainWindow::EndRunForExit() {
  host::RunController& run = document_->Run();
  if (!run.IsBusy()) return;
  // A failure reported while leaving is not worth a message box.
  bridge_->Silence();
  run.Stop();
  QElapsedTimer grace;
  grace.start();
  while (!run.WaitForWorker(std::chrono::milliseconds(20))) {
    if (grace.elapsed() >= exitGraceMs_) {
      run.Kill();
      break;
    }
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  WaitForWorker();
}

// ---- Graph commands ----------------------------------------------------------

void MainWindow::ShowInsertDialog() {
  if (insert_ == nullptr) {
    insert_ = new InsertDialog(this);
    std::vector<PrototypeRow> rows;
    for (int32_t i = 0; i < registry_.PrototypeCount(); ++i) {
      const host::FilterPrototype& p = registry_.Prototype(i);
      const host::FilterLibrary& lib = *p.library;
      rows.push_back(PrototypeRow{
          p.id,
          QStringLiteral("%1 %2.%3 [%4]").arg(Utf8(p.info.name)).arg(p.info.major).arg(p.info.minor).arg(p.info.id),
          QStringLiteral("%1 %2.%3 (%4)")
              .arg(Utf8(lib.info.name))
              .arg(lib.info.major)
              .arg(lib.info.minor)
              .arg(QString::fromStdString(lib.fileName)),
          QString::fromUtf8(host::FilterCategory(p.info.id))});
    }
    insert_->SetRows(rows);
    connect(insert_, &InsertDialog::AddRequested, this, [this](int id) { InsertFilter(id); });
    insert_->adjustSize();
    insert_->move(geometry().center() - insert_->rect().center());
  }
  insert_->show();
  insert_->raise();
  insert_->activateWindow();
}

int MainWindow::BeginNodeInsert(const QString& command, int prototypeId) {
  const QString reason = LockReason();
  if (!reason.isEmpty()) {
    Refuse(RefusalText(command, reason));
    return -1;
  }
  history_->Begin();
  const int index = document_->InsertNode(prototypeId);
  if (index < 0) {
    history_->Cancel();
    statusBar()->showMessage(QStringLiteral("The filter could not be created."), kStatusMessageMs);
  }
  return index;
}

bool MainWindow::InsertFilter(int prototypeId) {
  const int index = BeginNodeInsert(QStringLiteral("Insert Filter"), prototypeId);
  if (index < 0) return false;
  // New nodes go to the middle of what the user sees, or the nearest free
  // place from there.
  host::FilterNode& node = *document_->Node(index);
  const QPoint centre = view_->VisibleCentre();
  const host::Position at = host::FreePosition(*document_, node, centre.x(), centre.y(), GraphView::kGridSize);
  document_->MoveNode(node, at.x - node.x, at.y - node.y);
  const host::Position shift = host::NearestFreeOffset(*document_, {node.nodeId}, GraphView::kGridSize);
  document_->MoveNode(node, shift.x, shift.y);
  history_->Commit(QStringLiteral("Insert Filter"));
  view_->SelectNode(index);
  UpdateModified();
  view_->update();
  return true;
}

void MainWindow::OpenQuickAdd(QPoint widget, QPoint client, int fromNodeId, int fromPin) {
  if (quickAdd_ == nullptr) {
    quickAdd_ = new QuickAddPopup(host::BuildCatalog(registry_), view_);
    connect(quickAdd_, &QuickAddPopup::Chosen, this, [this](int prototypeId) {
      AddFilterAt(prototypeId, quickAddAt_, quickAddFrom_.first, quickAddFrom_.second);
      view_->setFocus();
    });
    connect(quickAdd_, &QuickAddPopup::Dismissed, view_, [this] { view_->setFocus(); });
  }
  quickAddAt_ = client;
  quickAddFrom_ = {fromNodeId, fromPin};
  quickAdd_->Open(widget);
}

bool MainWindow::AddFilterAt(int prototypeId, QPoint client, int fromNodeId, int fromPin) {
  const int index = BeginNodeInsert(QStringLiteral("Quick add"), prototypeId);
  if (index < 0) return false;
  host::FilterNode& node = *document_->Node(index);
  const QPoint at = client - QPoint(document_->originX, document_->originY);
  // A connection dropped here joins the new node's first pin that can take
  // it: an output feeds the new node's input, an input is fed by its output.
  const host::FilterNode* from = document_->NodeById(fromNodeId);
  int newPin = -1;
  bool fromFeedsNew = true;
  if (from != nullptr && fromPin >= 0 && fromPin < from->filter->pinCount && from->filter->pins[fromPin] != nullptr) {
    const uint32_t types = host::PinPacketTypes(*document_, *from, fromPin);
    switch (static_cast<PinKind>(from->filter->pins[fromPin]->kind)) {
      case PinKind::Output:
        newPin = host::FirstMatchingPin(*document_, node, static_cast<int32_t>(PinKind::Input), types);
        break;
      case PinKind::ConfigOut:
        newPin = host::FirstMatchingPin(*document_, node, static_cast<int32_t>(PinKind::ConfigIn), 0);
        break;
      case PinKind::Input:
        newPin = host::FirstMatchingPin(*document_, node, static_cast<int32_t>(PinKind::Output), types);
        fromFeedsNew = false;
        break;
      case PinKind::ConfigIn:
        newPin = host::FirstMatchingPin(*document_, node, static_cast<int32_t>(PinKind::ConfigOut), 0);
        fromFeedsNew = false;
        break;
      default:
        break;
    }
  }
  host::Position target{};
  if (newPin >= 0) {
    // The joined pin lands a little beyond the drop point.
    constexpr int kDropGap = 3 * GraphView::kGridSize;
    const host::Rect& r = node.geometry.pinRects[static_cast<size_t>(newPin)];
    const int pinX = (r.left + r.right) / 2, pinY = (r.top + r.bottom) / 2;
    const int x = at.x() + (fromFeedsNew ? kDropGap : -kDropGap) - (pinX - node.x);
    const int y = at.y() - (pinY - node.y);
    target = host::Position{x / GraphView::kGridSize * GraphView::kGridSize, y / GraphView::kGridSize * GraphView::kGridSize};
  } else {
    target = host::FreePosition(*document_, node, at.x(), at.y(), GraphView::kGridSize);
  }
  document_->MoveNode(node, target.x - node.x, target.y - node.y);
  const host::Position shift = host::NearestFreeOffset(*document_, {node.nodeId}, GraphView::kGridSize);
  document_->MoveNode(node, shift.x, shift.y);
  if (newPin >= 0) {
    if (fromFeedsNew) {
      document_->InsertEdge(from->nodeId, fromPin, node.nodeId, newPin);
    } else {
      document_->InsertEdge(node.nodeId, newPin, from->nodeId, fromPin);
    }
  }
  history_->Commit(QStringLiteral("Quick Add"));
  view_->SelectNode(document_->NodeIndex(node.nodeId));
  UpdateModified();
  viewport_->UpdateBars();
  view_->update();
  return true;
}

void MainWindow::RunGraph() {
  host::RunController& run = document_->Run();
  if (run.IsRunning()) return;  // Start while a run is active does nothing
  if (!progress_->isVisible()) {
    progress_->adjustSize();
    const QPoint centre = view_->mapToGlobal(view_->rect().center());
    progress_->move(centre - progress_->rect().center());
  }
  progress_->show();
  progress_->raise();
  progress_->StartClock();
  // A killed run's worker may still be leaving; wait without freezing.
  WaitForWorker();
  view_->MarkFailedNode(-1);
  std::string refusal;
  view_->SetPreviews({});
  if (run.Start(bridge_, &refusal)) {
    progress_->SetRunAlive(true);
    view_->SetRunProgress(RunProgress{true, -1, 0});
    properties_->Refresh();
  } else {
    const QString text = RefusalText(QStringLiteral("Run"), QString::fromStdString(refusal));
    progress_->ShowEnded(0, 0, text);
    statusBar()->showMessage(text, kStatusMessageMs);
  }
  UpdateActions();
  view_->update();
}

void MainWindow::StopGraph() {
  document_->Run().Stop();
  UpdateActions();
}

void MainWindow::KillGraph() {
  const bool wasRunning = document_->Run().IsRunning();
  document_->Run().Kill();
  if (wasRunning) ShowRunEnded(-1);
  view_->SetRunProgress(RunProgress{});
  properties_->Refresh();
  UpdateActions();
  view_->update();
}

void MainWindow::ShowProgress() { progress_->Reopen(document_->Run().IsRunning()); }

void MainWindow::ShowRunEnded(int result) {
  const int index = progress_->LastFilterIndex();
  const host::FilterNode* last = index >= 0 ? document_->Node(index) : nullptr;
  const int lastState = last != nullptr ? static_cast<int>(last->filter->state.load()) : -1;
  const QString caption = last != nullptr ? QString::fromStdString(last->caption) : QString();
  int graphState = static_cast<int>(FilterState::Stopped);
  QString outcome;
  switch (result) {
    case Ok:
      graphState = static_cast<int>(FilterState::Done);
      outcome = QStringLiteral("Done: every filter finished.");
      break;
    case Stopped:
      outcome = QStringLiteral("Stopped by the user.");
      break;
    case Failed:
      graphState = static_cast<int>(FilterState::Error);
      outcome = last != nullptr ? QStringLiteral("Failed on filter : %1").arg(caption)
                                : QStringLiteral("Failed.");
      break;
    case OutOfMemory:
      graphState = static_cast<int>(FilterState::Error);
      outcome = QStringLiteral("Failed: out of memory.");
      break;
    default:
      outcome = QStringLiteral("Killed: the filters keep the state they had.");
      break;
  }
  progress_->ShowEnded(graphState, lastState, outcome);
}

bool MainWindow::ArrangeGraph() {
  const QString reason = LockReason();
  if (!reason.isEmpty()) {
    Refuse(RefusalText(QStringLiteral("Arrange"), reason));
    return false;
  }
  if (document_->NodeCount() == 0) return false;
  const std::vector<host::ArrangedNode> placed = host::ArrangeGraph(*document_);
  history_->Begin();
  for (const host::ArrangedNode& a : placed) {
    host::FilterNode* node = document_->NodeById(a.nodeId);
    if (node == nullptr) continue;
    const int32_t dx = a.x - node->x, dy = a.y - node->y;
    document_->MoveNode(*node, dx, dy);
    document_->MoveEdgeEndsOfNode(*node, dx, dy);
  }
  history_->Commit(QStringLiteral("Arrange"));
  UpdateModified();
  viewport_->UpdateBars();
  view_->update();
  return true;
}

bool MainWindow::ResetGraph() {
  const QString reason = LockReason();
  if (!reason.isEmpty()) {
    Refuse(RefusalText(QStringLiteral("Reset"), reason));
    return false;
  }
  document_->ResetAllFilters();
  view_->SetPreviews({});
  view_->update();
  UpdateSelectionPanes();
  return true;
}

// ---- Help --------------------------------------------------------------------

void MainWindow::OpenManual() {
  // The current folder, beside the program (a build tree), then the
  // installed documentation folder.
  const QDir program(QApplication::applicationDirPath());
  const QStringList candidates = {
      QDir::current().absoluteFilePath(QStringLiteral("manual.pdf")),
      program.absoluteFilePath(QStringLiteral("manual.pdf")),
      QDir::cleanPath(program.absoluteFilePath(QStringLiteral(VORLAN_DOC_FROM_PROGRAM "/manual.pdf")))};
  const QString path = FirstExisting(candidates);
  QString reason;
  if (path.isEmpty()) {
    reason = QStringLiteral("The file manual.pdf was not found.");
  } else if (documentOpener_(path, reason)) {
    return;
  }
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), QStringLiteral("Cannot load manual!"),
                  QMessageBox::Ok, this);
  box.setInformativeText(ManualFailureDetails(reason, path.isEmpty() ? candidates : QStringList{path}));
  box.exec();
}

}  // namespace vorlan::gui

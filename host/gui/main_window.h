// The main frame: menus, toolbar, three-pane status bar and the graph view
// of the one document; File, Graph and Help commands.
//
// [ui thread] Owns the document (and through it the filters and the run
// controller). Commands that change the graph are refused while a run uses
// it; New, Open and closing wait for a killed run's worker while events keep
// being processed.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <memory>

#include "core/graph_document.h"
#include "core/graph_image.h"
#include "core/registry.h"
#include "node_fonts.h"

class QAction;
class QLabel;
class QMenu;

namespace vorlan::gui {

class GraphHistory;
class ElidedLabel;
class GraphView;
class GraphViewport;
class InsertDialog;
class ProgressDialog;
class RunBridge;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // `registry` must outlive the window.
  explicit MainWindow(const host::Registry& registry, QWidget* parent = nullptr);
  ~MainWindow() override;

  host::GraphDocument& Document() { return *document_; }
  GraphView* View() const { return view_; }
  ProgressDialog* Progress() const { return progress_; }
  // Created by the first Insert Filter command; null before.
  InsertDialog* Inserter() const { return insert_; }
  QString CurrentFile() const { return path_; }
  QStringList RecentFiles() const { return recent_; }
  QString PaneText(int pane) const;

  // Commands, also reachable from the menus and the toolbar.
  bool NewGraph();
  bool OpenGraph(const QString& path);  // no file dialog
  // No file dialog. While a run uses the filters their settings cannot be
  // read: the save then waits for the run to end (false, SavePending()).
  bool SaveGraphAs(const QString& path);
  bool SavePending() const { return !pendingSave_.isEmpty(); }
  void ShowInsertDialog();
  bool InsertFilter(int prototypeId);
  void RunGraph();
  void StopGraph();
  void KillGraph();
  // Graph menu "Show Progress": brings the Progress dialog back.
  void ShowProgress();
  bool ResetGraph();
  void OpenManual();

  // Edit commands: undo history and the clipboard (graph file bytes of the
  // selected nodes and the edges among them). Refused during a run.
  GraphHistory* History() const { return history_; }
  bool Undo();
  bool Redo();
  bool CopySelection();
  bool CutSelection();
  bool Paste();
  bool DuplicateSelection();
  void SelectAll();
  GraphViewport* Viewport() const { return viewport_; }
  // The clipboard's format: graph file bytes.
  static constexpr const char* kGraphMimeType = "application/x-vorlan-graph";

  // A non-empty word while the graph must not change.
  QString LockReason() const;
  // Waits, processing events, until no worker thread is left.
  void WaitForWorker();

  // Whether the unsaved-changes prompt may be shown (tests turn it off:
  // unsaved changes are then discarded).
  void SetPromptForUnsaved(bool on) { promptForUnsaved_ = on; }
  // How long Exit lets a stopped run wind down before killing it.
  void SetExitGrace(int ms) { exitGraceMs_ = ms; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  // Stop, then after the grace period Kill, and wait for the worker.
  void EndRunForExit();
  // After the window has closed: destroys every filter and ends the loop.
  void CloseDocumentAndQuit();
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void ShowPluginSearch();
  void UpdateTitle();
  void UpdateActions();
  void UpdateSelectionPanes();
  // How the run ended, in the Progress dialog; `result` is a run result or
  // -1 for a killed run.
  void ShowRunEnded(int result);
  void Refuse(const QString& reason);
  void SetModified(bool modified);
  // Modified = the undo stack left its clean state, or a change outside it.
  void UpdateModified();
  // Adds nodes from clipboard bytes shifted by (dx, dy), not stacked on
  // existing nodes; selects them. `text` names the undo step.
  bool PasteImage(const host::GraphImage& image, int dx, int dy, const QString& text);
  void CreateEditActions();
  void AddRecentFile(const QString& path);
  void RebuildRecentMenu();
  bool MaybeSave();
  bool Save();
  bool SaveAs();
  void Open();

  const host::Registry& registry_;
  FontTextMeasure measure_;
  std::unique_ptr<host::GraphDocument> document_;
  GraphView* view_ = nullptr;
  ProgressDialog* progress_ = nullptr;
  InsertDialog* insert_ = nullptr;
  RunBridge* bridge_ = nullptr;
  ElidedLabel* panes_[3] = {nullptr, nullptr, nullptr};

  QAction* newAction_ = nullptr;
  QAction* openAction_ = nullptr;
  QAction* saveAction_ = nullptr;
  QAction* saveAsAction_ = nullptr;
  QAction* exitAction_ = nullptr;
  QAction* insertAction_ = nullptr;
  QAction* removeAction_ = nullptr;
  QAction* resetAction_ = nullptr;
  QAction* runAction_ = nullptr;
  QAction* stopAction_ = nullptr;
  QAction* progressAction_ = nullptr;
  QAction* manualAction_ = nullptr;
  QAction* aboutAction_ = nullptr;
  QMenu* recentMenu_ = nullptr;
  QAction* undoAction_ = nullptr;
  QAction* redoAction_ = nullptr;
  QAction* cutAction_ = nullptr;
  QAction* copyAction_ = nullptr;
  QAction* pasteAction_ = nullptr;
  QAction* duplicateAction_ = nullptr;
  QAction* selectAllAction_ = nullptr;
  QAction* zoomInAction_ = nullptr;
  QAction* zoomOutAction_ = nullptr;
  QAction* zoomFitAction_ = nullptr;
  QAction* zoomResetAction_ = nullptr;
  GraphHistory* history_ = nullptr;
  GraphViewport* viewport_ = nullptr;
  // The origin moved, or nodes moved during a run, since the last save or
  // load: changes to the file that the undo history does not hold.
  bool changedOutsideHistory_ = false;

  QString path_;
  QString pendingSave_;  // saved as soon as no worker is left
  QStringList recent_;  // this session only: the program keeps no state
  bool promptForUnsaved_ = true;
  int exitGraceMs_ = 3000;
};

}  // namespace vorlan::gui

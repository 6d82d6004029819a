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
#include <QPoint>
#include <functional>
#include <memory>
#include <utility>

#include "core/graph_document.h"
#include "core/graph_image.h"
#include "core/registry.h"
#include "manual_viewer.h"
#include "node_fonts.h"

class QAction;
class QDockWidget;
class QLabel;
class QMenu;

namespace vorlan::gui {

class GraphHistory;
class ElidedLabel;
class GraphView;
class GraphViewport;
class InsertDialog;
class ProgressDialog;
class PropertiesPanel;
class QuickAddPopup;
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
  // Quick add at `widget` (view coordinates; `client` the same point in
  // client coordinates), for a connection from (fromNodeId, fromPin) when
  // one was dropped there.
  void OpenQuickAdd(QPoint widget, QPoint client, int fromNodeId = -1, int fromPin = -1);
  QuickAddPopup* QuickAdd() const { return quickAdd_; }
  PropertiesPanel* Properties() const { return properties_; }
  // Adds a node of the prototype at a client point, joined to
  // (fromNodeId, fromPin) when given; one undo step.
  bool AddFilterAt(int prototypeId, QPoint client, int fromNodeId = -1, int fromPin = -1);
  void RunGraph();
  void StopGraph();
  void KillGraph();
  // Graph menu "Show Progress": brings the Progress dialog back.
  void ShowProgress();
  bool ResetGraph();
  // Files dropped at a view point: the first graph is opened; pictures get
  // a file reader and an Image decoder each. False when nothing was done.
  bool DropFiles(const QStringList& files, QPoint viewPoint);
  // Graph > Arrange: the whole graph laid out by data flow, one undo step.
  bool ArrangeGraph();
  void OpenManual();
  // How Help > Manual opens the PDF (tests replace the desktop's viewer).
  void SetDocumentOpener(DocumentOpener opener) { documentOpener_ = std::move(opener); }

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
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Inserts a node of the prototype as the first change of an undo step
  // `command` (refused while the graph is locked, the step cancelled when the
  // filter cannot be created): its index, or -1.
  int BeginNodeInsert(const QString& command, int prototypeId);
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
  // The Properties panel follows the current node (one selected node).
  void UpdateProperties();
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
  // Every way a graph file replaces the document (Open, Recent Files, a
  // dropped graph, the command line): refused during a run (the message
  // names `command`), unsaved changes offered for saving, then `choose`
  // names the file (the Open dialog asks only after that question; empty
  // stops) and the file is read.
  bool ReplaceWithGraph(const QString& command, const std::function<QString()>& choose);

  const host::Registry& registry_;
  FontTextMeasure measure_;
  std::unique_ptr<host::GraphDocument> document_;
  GraphView* view_ = nullptr;
  ProgressDialog* progress_ = nullptr;
  InsertDialog* insert_ = nullptr;
  QuickAddPopup* quickAdd_ = nullptr;
  PropertiesPanel* properties_ = nullptr;
  QDockWidget* propertiesDock_ = nullptr;
  QPoint quickAddAt_;
  std::pair<int, int> quickAddFrom_{-1, -1};
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
  QAction* arrangeAction_ = nullptr;
  QAction* curvedAction_ = nullptr;
  QAction* previewsAction_ = nullptr;
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
  bool wasBusy_ = false;  // the run state UpdateActions saw last

  QString path_;
  QString pendingSave_;  // saved as soon as no worker is left
  QStringList recent_;  // kept in EditorSettings across sessions
  DocumentOpener documentOpener_ = OpenPdfDocument;
  bool promptForUnsaved_ = true;
  int exitGraceMs_ = 3000;
};

}  // namespace vorlan::gui

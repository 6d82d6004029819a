// The Properties panel (a dock of the main window): the selected node's
// settings as fields built from its library's settings description: check
// boxes for flags and switches, lists for choices, text fields for numbers
// and texts, the field's help, range and unit as tooltip. An edit is
// checked as the field's type and range require and then by the filter's
// own CheckSettings; a refused value is put back and the reason shown.
// Each accepted change is one undo step. Filters that describe nothing
// keep their modal dialog only.
//
// [ui thread] Reads and writes the filter's settings: disabled while a run
// uses the graph.
#pragma once

#include <QWidget>
#include <functional>
#include <vector>

#include "vorlan/settings_values.h"

class QFormLayout;
class QLabel;
class QScrollArea;

namespace vorlan::host {
class GraphDocument;
}

namespace vorlan::gui {

class GraphHistory;

class PropertiesPanel : public QWidget {
  Q_OBJECT

 public:
  PropertiesPanel(host::GraphDocument& document, GraphHistory& history, QWidget* parent = nullptr);

  // Non-empty while the graph must not change.
  void SetLockCheck(std::function<QString()> check) { lockCheck_ = std::move(check); }

  // Shows the node with this id (-1: none), reading its settings afresh.
  void ShowNode(int32_t nodeId);
  void Refresh() { ShowNode(nodeId_); }
  int32_t NodeId() const { return nodeId_; }

  // The editor widget of a field (named by the field's identifier), null
  // when the node has no such field.
  QWidget* Editor(const QString& identifier) const;
  // Sets a field from text as the user would (the text field's contents,
  // "true"/"false" for check boxes, the label for lists). False with the
  // reason in Message() when refused.
  bool Edit(const QString& identifier, const QString& text);
  QString Message() const;

 signals:
  // An edit changed the node (its settings, maybe its pins and size).
  void NodeChanged(int32_t nodeId);

 private:
  void Rebuild();
  bool Apply(int field, const QString& text);

  host::GraphDocument& document_;
  GraphHistory& history_;
  std::function<QString()> lockCheck_;
  int32_t nodeId_ = -1;
  const SettingsDescription* description_ = nullptr;
  std::vector<SettingValue> values_;
  QLabel* title_;
  QLabel* message_;
  QScrollArea* scroll_;
  QFormLayout* form_ = nullptr;
  std::vector<QWidget*> editors_;
};

}  // namespace vorlan::gui

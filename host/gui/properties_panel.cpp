#include "properties_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QVBoxLayout>

#include "core/graph_document.h"
#include "core/placement.h"
#include "core/registry.h"
#include "core/settings_by_name.h"
#include "undo_commands.h"

namespace vorlan::gui {

namespace {

QString Text(const char* text) { return QString::fromUtf8(SettingText(text)); }

bool IsCheckBox(const SettingField& f) {
  return f.type == kSettingFlag || (f.type == kSettingInt32 && (f.flags & kSettingSwitch) != 0);
}

QString FieldLabel(const SettingField& f) {
  const QString label = Text(f.label);
  return label.isEmpty() ? Text(f.identifier) : label;
}

QString FieldTip(const SettingField& f) {
  QStringList lines;
  if (*SettingText(f.help) != '\0') lines << Text(f.help);
  const std::string range = SettingRangeText(f);
  QString kind = QString::fromUtf8(SettingTypeName(f.type));
  if (!range.empty()) kind += QStringLiteral(": ") + QString::fromStdString(range);
  if (*SettingText(f.unit) != '\0') kind += QStringLiteral(" ") + Text(f.unit);
  lines << kind;
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

PropertiesPanel::PropertiesPanel(host::GraphDocument& document, GraphHistory& history, QWidget* parent)
    : QWidget(parent), document_(document), history_(history) {
  title_ = new QLabel;
  title_->setWordWrap(true);
  message_ = new QLabel;
  message_->setObjectName(QStringLiteral("propertiesMessage"));
  message_->setWordWrap(true);
  message_->setStyleSheet(QStringLiteral("color: palette(highlight)"));
  scroll_ = new QScrollArea;
  scroll_->setWidgetResizable(true);
  scroll_->setFrameShape(QFrame::NoFrame);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title_);
  layout->addWidget(scroll_, 1);
  layout->addWidget(message_);
  ShowNode(-1);
}

void PropertiesPanel::ShowNode(int32_t nodeId) {
  nodeId_ = nodeId;
  description_ = nullptr;
  values_.clear();
  message_->clear();
  host::FilterNode* node = document_.NodeById(nodeId);
  const QString lock = lockCheck_ ? lockCheck_() : QString();
  if (node == nullptr) {
    title_->setText(QStringLiteral("No filter selected."));
  } else {
    title_->setText(QString::fromStdString(node->caption) + QStringLiteral(" \u2014 ") +
                    QString::fromUtf8(node->filter->info.name));
    const host::FilterPrototype* prototype = host::PrototypeOf(document_, *node);
    std::string error;
    if (!lock.isEmpty()) {
      message_->setText(QStringLiteral("The settings cannot be read while ") + lock + QStringLiteral("."));
    } else if (prototype == nullptr || prototype->settings == nullptr) {
      message_->setText(QStringLiteral("This filter describes no settings; use Configure."));
    } else if (!host::ReadNodeSettings(document_, *node, values_, error)) {
      message_->setText(QString::fromStdString(error));
      values_.clear();
    } else {
      description_ = prototype->settings;
      if (description_->fieldCount == 0) message_->setText(QStringLiteral("There is nothing to configure..."));
    }
  }
  Rebuild();
}

void PropertiesPanel::Rebuild() {
  // The old fields go later: one of them may be the sender of the signal
  // that led here.
  if (QWidget* old = scroll_->takeWidget()) old->deleteLater();
  editors_.clear();
  auto* fields = new QWidget;
  form_ = new QFormLayout(fields);
  scroll_->setWidget(fields);
  if (description_ == nullptr) return;
  for (int i = 0; i < description_->fieldCount; ++i) {
    const SettingField& f = description_->fields[i];
    const SettingValue& v = values_[static_cast<size_t>(i)];
    QWidget* editor = nullptr;
    if (IsCheckBox(f)) {
      auto* box = new QCheckBox;
      box->setChecked(v.number != 0);
      connect(box, &QCheckBox::toggled, this,
              [this, i](bool on) { Apply(i, on ? QStringLiteral("true") : QStringLiteral("false")); });
      editor = box;
    } else if (f.type == kSettingChoice) {
      auto* list = new QComboBox;
      for (int c = 0; c < f.choiceCount; ++c) {
        list->addItem(Text(f.choices[c].label).isEmpty() ? Text(f.choices[c].identifier) : Text(f.choices[c].label),
                      f.choices[c].value);
        if (f.choices[c].value == v.number) list->setCurrentIndex(c);
      }
      connect(list, &QComboBox::activated, this,
              [this, i, list](int index) { Apply(i, QString::number(list->itemData(index).toInt())); });
      editor = list;
    } else {
      auto* line = new QLineEdit(QString::fromStdString(FormatSettingValue(f, v)));
      connect(line, &QLineEdit::editingFinished, this, [this, i, line] {
        if (line->isModified()) Apply(i, line->text());
        line->setModified(false);
      });
      editor = line;
    }
    editor->setObjectName(Text(f.identifier));
    editor->setToolTip(FieldTip(f));
    editor->setEnabled(!lockCheck_ || lockCheck_().isEmpty());
    auto* label = new QLabel(FieldLabel(f));
    label->setToolTip(editor->toolTip());
    form_->addRow(label, editor);
    editors_.push_back(editor);
  }
}

QWidget* PropertiesPanel::Editor(const QString& identifier) const {
  for (QWidget* w : editors_)
    if (w->objectName() == identifier) return w;
  return nullptr;
}

QString PropertiesPanel::Message() const { return message_->text(); }

bool PropertiesPanel::Edit(const QString& identifier, const QString& text) {
  if (description_ == nullptr) return false;
  for (int i = 0; i < description_->fieldCount; ++i)
    if (Text(description_->fields[i].identifier) == identifier) return Apply(i, text);
  message_->setText(QStringLiteral("No field ") + identifier + QStringLiteral("."));
  return false;
}

bool PropertiesPanel::Apply(int field, const QString& text) {
  host::FilterNode* node = document_.NodeById(nodeId_);
  if (node == nullptr || description_ == nullptr || field < 0 || field >= description_->fieldCount) return false;
  const SettingField& f = description_->fields[field];
  auto refuse = [this](const QString& why) {
    // Put every field back to what the filter holds.
    const QString reason = why;
    Refresh();
    message_->setText(reason);
    return false;
  };
  if (lockCheck_ && !lockCheck_().isEmpty()) return refuse(QStringLiteral("Refused: ") + lockCheck_());
  SettingValue value;
  std::string error;
  if (!ParseSettingValue(f, text.toStdString(), value, error))
    return refuse(FieldLabel(f) + QStringLiteral(": ") + QString::fromStdString(error));
  if (value == values_[static_cast<size_t>(field)]) return true;
  std::vector<SettingValue> changed = values_;
  changed[static_cast<size_t>(field)] = value;

  history_.Begin();
  if (!host::WriteNodeSettings(document_, *node, changed, error)) {
    history_.Cancel();
    return refuse(QString::fromStdString(error));
  }
  // The filter's own check of the combination, as a run would make it.
  if (!host::CheckNodeSettings(document_, {nodeId_}, error)) {
    std::string ignored;
    host::WriteNodeSettings(document_, *node, values_, ignored);
    history_.Cancel();
    return refuse(QString::fromStdString(error));
  }
  document_.RefreshNode(*node);
  host::MakeRoomAround(document_, nodeId_);
  history_.Commit(QStringLiteral("Set ") + FieldLabel(f));
  values_ = changed;
  message_->clear();
  emit NodeChanged(nodeId_);
  return true;
}

}  // namespace vorlan::gui

// "Text display": turns one value received on "In" (a text, an integer or a
// real number) into the text and type label a display window shows, with
// an optional caption for the window title.
//
// This class holds no window. A window is attached by deriving from it and
// overriding HideDisplay and ShowDisplay, which Process calls on the worker
// thread at the points where the window hides and reappears; without a
// window (headless runs, tests) the filter only converts the value.
#pragma once

#include <optional>
#include <string>

#include "vorlan/filter_base.h"
#include "vorlan/settings_description.h"

namespace vorlan {

class ValueDisplayFilter : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Text display", 1, 0, 70};

  // The headless runner reads what arrived through this pin.
  static constexpr int32_t kInPin = 2;

  ValueDisplayFilter();

  // Null data is refused. Native: a pointer-sized cell holding a pointer to
  // the caption text, or null for none; the text is copied. Serialized: one
  // ConfigStream text, -1 for none; bytes that end too early clear the
  // caption.
  Result ApplyConfig(Packet packet, ConfigForm form) override;
  // Native: a malloc'ed cell pointing at this filter's own caption (not a
  // copy), valid until the caption changes. Serialized: the text item.
  Packet GetConfig(ConfigForm form) override;

  const std::optional<std::string>& Caption() const { return caption_; }
  // Every caption can run.
  static const SettingsDescription& DescribeSettings();
  // The value as shown; nullopt before the first value and after a run
  // whose "In" was not connected.
  const std::optional<std::string>& Text() const { return text_; }
  // "String", "Integer", "Float", or "" when there is no value.
  const std::string& TypeLabel() const { return typeLabel_; }
  // "[caption] - Text Display", or "Text Display" without a caption.
  std::string WindowTitle() const;

 protected:
  // [worker thread]
  Result Work() override;

  // Window hooks, [worker thread]: hide at the start of a run, show the
  // text, label and title at its successful end.
  virtual void HideDisplay() {}
  virtual void ShowDisplay() {}

 private:
  Pin* in_ = nullptr;
  std::optional<std::string> caption_;
  std::optional<std::string> text_;
  std::string typeLabel_;
};

// The text of a value: "%i" for integers, "%f" (six decimals) for reals.
// Nothing is cut short, however long the number.
std::string FormatInteger(int32_t value);
std::string FormatReal(double value);

}  // namespace vorlan

// "Gain": multiplies every sample of a plane by a factor. One plane "In",
// one plane "Out" of the same size and declared range.
//
// Copy this folder to start a plug-in of your own: give it a filter id of
// your own (10000 stays this example's; take a block from 10100 up as
// docs/filter-ids.md says, installed in share/doc/vorlan-dev), a settings
// record, its pins, and Work(). gain_test.cpp shows how to test it.
#pragma once

#include <cstdint>
#include <string>

#include "vorlan/filter_base.h"
#include "vorlan/payloads.h"
#include "vorlan/settings_description.h"

namespace gain {

// The settings record. It is also the Native configuration form: the
// dialog gets a copy with GetConfig(Native) and gives it back with
// ApplyConfig(Native). In a graph file it is stored Serialized, field by
// field (a float64 then an int32); append new fields at the end so that
// graphs saved by older versions still load.
struct GainSettings {
  double gain = 1.0;  // factor applied to every sample
  int32_t clip = 1;   // 1: results are clamped into the input's declared range
};

class GainFilter : public vorlan::FilterBase {
 public:
  // Name, version 1.0, filter id: the id is what graph files store.
  static constexpr vorlan::FilterInfo kInfo{"Gain", 1, 0, 10000};

  static constexpr int32_t kInPin = 2;   // pins 0 and 1 are "Cfg in" and "Cfg out"
  static constexpr int32_t kOutPin = 3;

  GainFilter();

  // Null settings are refused. Native: the whole record. Serialized: gain,
  // clip; a field the bytes do not reach keeps its value.
  vorlan::Result ApplyConfig(vorlan::Packet packet, vorlan::ConfigForm form) override;
  // Native: a malloc'ed copy of the record (the host frees it through the
  // library's ReleaseConfig). Serialized: 12 bytes.
  vorlan::Packet GetConfig(vorlan::ConfigForm form) override;

  const GainSettings& Settings() const { return settings_; }

  // Settings by name: each field of the Serialized stream, in stream order,
  // with its identifier, the dialog's label, type, default, allowed values,
  // unit and one line of help. The library exports it (GetSettingsDescription),
  // so `vorlan --inspect Gain` lists the fields, `--set CAPTION.gain=2` sets
  // one, and the editor shows the help as the dialog fields' tooltips. A
  // filter without settings returns vorlan::kNoSettings.
  static const vorlan::SettingsDescription& DescribeSettings();
  // Why the current settings cannot run, naming the field; "" when they can.
  // Work makes this check first, and the host asks it through the library's
  // CheckSettings export before a run. Keep the description's ranges within
  // what it accepts.
  std::string SettingsProblem() const override;

 protected:
  // [worker thread] Reads "In", fills "Out", publishes it.
  vorlan::Result Work() override;
  // Frees the output plane; the base class has already withdrawn the pin.
  void ReleaseOutputs() override { out_.Release(); }

 private:
  GainSettings settings_;
  vorlan::Pin* in_ = nullptr;
  vorlan::Pin* outPin_ = nullptr;
  vorlan::OwnedPlane out_;  // the payload "Out" points at, owned here
};

}  // namespace gain

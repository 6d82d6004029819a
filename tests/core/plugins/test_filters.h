// Small filters for the host's tests: a source of integers with a settable
// number of outputs, a relay that adds one, a worker that runs, fails or
// misbehaves on request, and a stream-like filter with one text setting.
#pragma once

#include <chrono>
#include <cmath>
#include <optional>
#include <string>
#include <thread>

#include "vorlan/config_stream.h"
#include "vorlan/filter_base.h"

namespace vorlan::testplugins {

// Outputs "Out", "Out2", ... all publishing `value` as an Integer.
// Settings: int32 value, int32 output count (1..16).
class TestSource final : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Test source", 1, 0, 9101};
  TestSource() : FilterBase(kInfo) { SetOutputs(1); }

  Result ApplyConfig(Packet packet, ConfigForm form) override {
    if (form != ConfigForm::Serialized) return Ok;
    if (packet.data == nullptr) return Fail("no settings");
    ConfigReader in(packet);
    int32_t value = 0, outputs = 0;
    if (!in.Int32(value) || !in.Int32(outputs)) return Fail("settings too short");
    if (outputs < 1 || outputs > 16) return Failf("output count %d outside 1..16", outputs);
    value_ = value;
    SetOutputs(outputs);
    return Ok;
  }
  Packet GetConfig(ConfigForm) override {
    ConfigWriter out;
    out.Int32(value_);
    out.Int32(outputs_);
    return out.ToPacket();
  }

 protected:
  Result Work() override {
    for (int32_t i = 2; i < pinCount; ++i) Publish(pins[i], MakePacket(4, PacketType::Integer, &value_));
    return Ok;
  }

 private:
  void SetOutputs(int32_t n) {
    RemovePinsFrom(2);
    for (int32_t i = 0; i < n; ++i) {
      const std::string name = i == 0 ? "Out" : "Out" + std::to_string(i + 1);
      AddNewPin(name.c_str(), PinKind::Output);
    }
    outputs_ = n;
  }
  int32_t value_ = 7;
  int32_t outputs_ = 0;
};

// "In" (Integer) to "Out" (Integer + 1).
class TestRelay final : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Test relay", 1, 0, 9102};
  TestRelay() : FilterBase(kInfo) {
    in_ = AddNewPin("In", PinKind::Input);
    out_ = AddNewPin("Out", PinKind::Output);
  }

 protected:
  Result Work() override {
    Packet packet{};
    const Result r = ReadTyped(in_, PacketType::Integer, packet);
    if (r != Ok) return r;
    value_ = *static_cast<const int32_t*>(packet.data) + 1;
    Publish(out_, MakePacket(4, PacketType::Integer, &value_));
    return Ok;
  }

 private:
  Pin* in_ = nullptr;
  Pin* out_ = nullptr;
  int32_t value_ = 0;
};

// Modes of TestWorker.
enum WorkerMode : int32_t {
  kWorkForMillis = 0,  // work `millis` ms in 1 ms steps, polling the stop flag;
                       // reports 1.0 on its way out of a stop, as the colour
                       // conversions and the HV encoder do
  kFail = 1,           // fail with the reason "asked to fail"
  kOutOfMemory = 2,    // return OutOfMemory
  kWildProgress = 3,   // report NaN, -1 and 2 as progress, then finish
};

// An optional input "In" (waits for it when connected). Settings: int32
// mode, int32 millis.
class TestWorker final : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Test worker", 1, 0, 9103};
  TestWorker() : FilterBase(kInfo) { in_ = AddNewPin("In", PinKind::Input); }

  Result ApplyConfig(Packet packet, ConfigForm form) override {
    if (form != ConfigForm::Serialized) return Ok;
    ConfigReader in(packet);
    int32_t mode = 0, millis = 0;
    if (!in.Int32(mode) || !in.Int32(millis)) return Fail("settings too short");
    mode_ = mode;
    millis_ = millis;
    return Ok;
  }
  Packet GetConfig(ConfigForm) override {
    ConfigWriter out;
    out.Int32(mode_);
    out.Int32(millis_);
    return out.ToPacket();
  }

 protected:
  Result Work() override {
    const Result r = ReadInput(in_);
    if (r == InputNotReady) return InputNotReady;
    switch (mode_) {
      case kFail:
        return Fail("asked to fail");
      case kOutOfMemory:
        return OutOfMemory;
      case kWildProgress:
        ReportProgress(std::nan(""));
        ReportProgress(-1.0);
        ReportProgress(2.0);
        return Ok;
      default:
        for (int32_t ms = 0; ms < millis_; ++ms) {
          if (StopRequested()) {
            ReportProgress(1.0);
            return Stopped;
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
          ReportProgress(static_cast<double>(ms + 1) / millis_);
        }
        return Ok;
    }
  }

 private:
  Pin* in_ = nullptr;
  int32_t mode_ = kWorkForMillis;
  int32_t millis_ = 0;
};

// Like a file stream: one text setting (the path, missing by default) and
// an output "Out".
class TestValid final : public FilterBase {
 public:
  static constexpr FilterInfo kInfo{"Test valid", 1, 0, 9001};
  TestValid() : FilterBase(kInfo) { out_ = AddNewPin("Out", PinKind::Output); }

  Result ApplyConfig(Packet packet, ConfigForm form) override {
    if (form != ConfigForm::Serialized) return Ok;
    if (packet.data == nullptr) return Fail("no settings");
    ConfigReader in(packet);
    std::optional<std::string> path;
    if (!in.Text(path)) return Fail("malformed settings");
    path_ = path;
    return Ok;
  }
  Packet GetConfig(ConfigForm) override {
    ConfigWriter out;
    out.Text(path_);
    return out.ToPacket();
  }

 protected:
  Result Work() override {
    if (!path_) return Fail("no path set");
    Publish(out_, MakePacket(static_cast<int32_t>(path_->size() + 1), PacketType::String, path_->data()));
    return Ok;
  }

 private:
  Pin* out_ = nullptr;
  std::optional<std::string> path_;
};

}  // namespace vorlan::testplugins

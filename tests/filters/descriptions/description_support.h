// What the description tests share: the plug-in folders they check (the
// build's filters and the SDK's template plug-in, built from its sources
// into a folder of its own) and a filter made through a library's exports.
#pragma once

#include <string>
#include <vector>

#include "core/registry.h"
#include "vorlan/contract.h"

namespace vorlan::descriptions {

inline std::vector<std::string> PluginFolders() {
  return {std::string(VORLAN_FILTER_DIR), std::string(VORLAN_TEMPLATE_FILTER_DIR)};
}

inline std::vector<uint8_t> Stream(const Packet& packet) {
  const auto* p = static_cast<const uint8_t*>(packet.data);
  return packet.length > 0 && p != nullptr ? std::vector<uint8_t>(p, p + packet.length) : std::vector<uint8_t>{};
}

// A filter of `prototype`, destroyed with its library's export.
class Instance {
 public:
  explicit Instance(const host::FilterPrototype& p) : p_(p), filter_(p.library->entry.create(p.index)) {
    if (filter_ != nullptr) filter_->Initialize();
  }
  ~Instance() {
    if (filter_ == nullptr) return;
    filter_->Deinitialize();
    p_.library->entry.destroy(filter_, p_.index);
  }
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;
  Filter* get() const { return filter_; }

  std::vector<uint8_t> Serialized() {
    Packet packet = filter_->GetConfig(ConfigForm::Serialized);
    std::vector<uint8_t> bytes = Stream(packet);
    if (p_.library->entry.releaseConfig != nullptr) p_.library->entry.releaseConfig(packet);
    return bytes;
  }
  Result Apply(const std::vector<uint8_t>& bytes) {
    uint8_t empty = 0;
    auto* data = bytes.empty() ? &empty : const_cast<uint8_t*>(bytes.data());
    return filter_->ApplyConfig(MakePacket(static_cast<int32_t>(bytes.size()), PacketType::Config, data),
                                ConfigForm::Serialized);
  }
  std::string Problem() {
    const char* text = p_.library->entry.checkSettings(filter_);
    return text != nullptr ? text : "";
  }

 private:
  const host::FilterPrototype& p_;
  Filter* filter_;
};

}  // namespace vorlan::descriptions

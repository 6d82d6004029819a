// The glue that gives a filter library its exported entry points:
//
//   VORLAN_FILTER_LIBRARY(MyFilter, "My Filter Library")
//
// placed once in the library. MyFilter derives from FilterBase and has a
// `static constexpr FilterInfo kInfo`. Every other symbol of the library
// stays hidden.
//
// A filter whose settings can be set by name also declares
//
//   static const vorlan::SettingsDescription& DescribeSettings();
//
// (see settings_description.h) and overrides FilterBase::SettingsProblem
// with the check its run makes at the start; GetSettingsDescription then
// returns that description and CheckSettings that check. Without it
// GetSettingsDescription returns null and the host treats the settings as
// opaque bytes.
#pragma once

#include <new>

#include "vorlan/contract.h"
#include "vorlan/file_names.h"
#include "vorlan/filter_base.h"
#include "vorlan/settings_description.h"

#define VORLAN_EXPORT __attribute__((visibility("default")))

namespace vorlan::glue {

template <class F>
FilterInfo Info(int32_t index) {
  if (index != 0) return FilterInfo{"", 0, 0, 0};
  return F::kInfo;
}

template <class F>
Filter* Create(int32_t index) {
  if (index != 0) return nullptr;
  try {
    return new (std::nothrow) F();
  } catch (...) {
    return nullptr;  // nothing is thrown across the library boundary
  }
}

// Index 0 destroys the filter. Index -1 (never passed by the host) is meant
// to run the base destructor only; the filter is destroyed whole instead, so
// its buffers are not leaked. Any other index does nothing.
template <class F>
void Destroy(Filter* filter, int32_t index) {
  if (filter == nullptr || (index != 0 && index != -1)) return;
  ForgetDocumentFolderOf(filter);
  delete static_cast<F*>(filter);
}

template <class F>
const SettingsDescription* Description(int32_t index) {
  if constexpr (requires { F::DescribeSettings(); }) {
    if (index != 0) return nullptr;
    try {
      return &F::DescribeSettings();
    } catch (...) {
      return nullptr;
    }
  } else {
    (void)index;
    return nullptr;
  }
}

// Null when the settings can run; the text stays the filter's.
inline const char* Check(Filter* filter) {
  if (filter == nullptr) return nullptr;
  try {
    return static_cast<FilterBase*>(filter)->SettingsCheckText();
  } catch (...) {
    return "out of memory while checking the settings";
  }
}

// Out of memory leaves the previous folder; nothing is thrown to the host.
inline void SetFolder(Filter* filter, const char* folder) {
  try {
    SetDocumentFolderOf(filter, folder);
  } catch (...) {
  }
}

}  // namespace vorlan::glue

#define VORLAN_FILTER_LIBRARY(FilterClass, libraryName)                                           \
  extern "C" {                                                                                  \
  VORLAN_EXPORT ::vorlan::FilterLibraryInfo GetFilterLibraryInfo() {                              \
    return ::vorlan::FilterLibraryInfo{libraryName, 1, 0, 1};                                     \
  }                                                                                             \
  VORLAN_EXPORT ::vorlan::FilterInfo GetFilterInfo(int32_t index) {                               \
    return ::vorlan::glue::Info<FilterClass>(index);                                              \
  }                                                                                             \
  VORLAN_EXPORT ::vorlan::Filter* CreateFilter(int32_t index) {                                   \
    return ::vorlan::glue::Create<FilterClass>(index);                                            \
  }                                                                                             \
  VORLAN_EXPORT void DestroyFilter(::vorlan::Filter* filter, int32_t index) {                     \
    ::vorlan::glue::Destroy<FilterClass>(filter, index);                                          \
  }                                                                                             \
  VORLAN_EXPORT const char* GetFailureReason(::vorlan::Filter* filter) {                          \
    return filter == nullptr ? "" : static_cast<::vorlan::FilterBase*>(filter)->FailureReason();  \
  }                                                                                             \
  VORLAN_EXPORT void ReleaseConfig(::vorlan::Packet packet) { std::free(packet.data); }           \
  VORLAN_EXPORT void SetDocumentFolder(::vorlan::Filter* filter, const char* folder) {            \
    ::vorlan::glue::SetFolder(filter, folder);                                                    \
  }                                                                                             \
  VORLAN_EXPORT const ::vorlan::SettingsDescription* GetSettingsDescription(int32_t index) {      \
    return ::vorlan::glue::Description<FilterClass>(index);                                       \
  }                                                                                             \
  VORLAN_EXPORT const char* CheckSettings(::vorlan::Filter* filter) {                             \
    return ::vorlan::glue::Check(filter);                                                         \
  }                                                                                             \
  VORLAN_EXPORT uint32_t GetPinPacketTypes(::vorlan::Filter* filter, int32_t pin) {               \
    return filter == nullptr ? 0 : static_cast<::vorlan::FilterBase*>(filter)->PinPacketTypes(pin); \
  }                                                                                             \
  }

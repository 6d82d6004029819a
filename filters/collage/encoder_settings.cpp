#include "encoder_settings.h"

#include <cmath>
#include <cstring>

#include "vorlan/config_stream.h"

namespace vorlan::collage {

std::vector<SettingProblem> SettingProblems(const FractalEncoderSettings& s) {
  std::vector<SettingProblem> problems;
  auto check = [&problems](bool ok, const char* field, const char* rule) {
    if (!ok) problems.push_back({field, rule});
  };
  check(s.mode >= 0 && s.mode <= 2, "mode", "must be 0 (Fidelity), 1 (Size) or 2 (Least error)");
  check(s.errorMode == 0 || s.errorMode == 1, "errorMode", "must be 0 (Absolute) or 1 (Quality)");
  check(s.coverMode == 0 || s.coverMode == 1, "coverMode", "must be 0 (Best cover) or 1 (Cover in tolerance)");
  check(s.threadPriority == 0 || s.threadPriority == 1, "threadPriority", "must be 0 (Normal) or 1 (Idle)");
  check(s.maxRanges >= 1, "maxRanges", "must be at least 1");
  check(s.minRangeSize >= 1, "minRangeSize", "must be at least 1");
  check(s.minRangeFactor >= 1, "minRangeFactor", "must be at least 1");
  check(s.maxRangeFactor >= s.minRangeFactor, "maxRangeFactor", "must not be below \"minRangeFactor\"");
  check(s.stepX >= 1, "stepX", "must be at least 1");
  check(s.stepY >= 1, "stepY", "must be at least 1");
  check(s.scaleLevels >= 2, "scaleLevels", "must be at least 2");
  check(s.offsetLevels >= 2, "offsetLevels", "must be at least 2");
  check(s.threadCount >= 1 && s.threadCount <= kMaxThreadCount, "threadCount", "must lie in 1 ... 64");
  check(std::isfinite(s.maxScale) && s.maxScale > 0.0f, "maxScale", "must be a finite value above 0");
  check(std::isfinite(s.maxError), "maxError", "must be finite");
  check(std::isfinite(s.quality), "quality", "must be finite");
  return problems;
}

std::string ValidateSettings(const FractalEncoderSettings& s) {
  const std::vector<SettingProblem> problems = SettingProblems(s);
  if (problems.empty()) return "";
  return "\"" + std::string(problems.front().field) + "\" " + problems.front().rule;
}

Packet SerializeSettings(const FractalEncoderSettings& s) {
  ConfigWriter writer;
  int32_t words[kSettingsFieldCount];
  std::memcpy(words, &s, sizeof words);
  for (int32_t word : words) writer.Int32(word);
  return writer.ToPacket();
}

void DeserializeSettings(const Packet& packet, FractalEncoderSettings& s) {
  ConfigReader reader(packet);
  int32_t words[kSettingsFieldCount];
  std::memcpy(words, &s, sizeof words);
  for (int32_t& word : words) {
    if (!reader.Int32(word)) break;
  }
  std::memcpy(&s, words, sizeof words);
}

}  // namespace vorlan::collage

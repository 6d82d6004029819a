#include "encoder_settings.h"

#include <cmath>
#include <cstring>

#include "vorlan/config_stream.h"

namespace vorlan::collage {

std::string ValidateSettings(const FractalEncoderSettings& s) {
  if (s.mode < 0 || s.mode > 2) return "\"mode\" must be 0 (Fidelity), 1 (Size) or 2 (Least error)";
  if (s.errorMode != 0 && s.errorMode != 1) return "\"errorMode\" must be 0 (Absolute) or 1 (Quality)";
  if (s.coverMode != 0 && s.coverMode != 1) return "\"coverMode\" must be 0 (Best cover) or 1 (Cover in tolerance)";
  if (s.threadPriority != 0 && s.threadPriority != 1) return "\"threadPriority\" must be 0 (Normal) or 1 (Idle)";
  if (s.maxRanges < 1) return "\"maxRanges\" must be at least 1";
  if (s.minRangeSize < 1) return "\"minRangeSize\" must be at least 1";
  if (s.minRangeFactor < 1) return "\"minRangeFactor\" must be at least 1";
  if (s.maxRangeFactor < s.minRangeFactor) return "\"maxRangeFactor\" must not be below \"minRangeFactor\"";
  if (s.stepX < 1) return "\"stepX\" must be at least 1";
  if (s.stepY < 1) return "\"stepY\" must be at least 1";
  if (s.scaleLevels < 2) return "\"scaleLevels\" must be at least 2";
  if (s.offsetLevels < 2) return "\"offsetLevels\" must be at least 2";
  if (s.threadCount < 1 || s.threadCount > kMaxThreadCount) return "\"threadCount\" must lie in 1 ... 64";
  if (!std::isfinite(s.maxScale) || !(s.maxScale > 0.0f)) return "\"maxScale\" must be a finite value above 0";
  if (!std::isfinite(s.maxError)) return "\"maxError\" must be finite";
  if (!std::isfinite(s.quality)) return "\"quality\" must be finite";
  return "";
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

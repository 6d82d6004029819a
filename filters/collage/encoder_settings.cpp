#include "encoder_settings.h"

#include <cmath>
#include <cstring>

#include "vorlan/config_stream.h"

namespace vorlan::collage {

namespace {

constexpr SettingChoice kModes[] = {{0, "fidelity", "Fidelity"}, {1, "size", "Size"}, {2, "least_error", "Least error"},
                                  {3, "rate_distortion", "Rate-distortion"}};
constexpr SettingChoice kSearchModes[] = {
    {0, "grid", "Grid search"},
    {1, "rich", "Rich pool search"},
    {2, "attractor", "Attractor search"},
    {3, "quick_attractor", "Quick attractor search"}};
constexpr SettingChoice kCoverModes[] = {{0, "best", "Best cover"}, {1, "in_tolerance", "Cover in tolerance"}};
constexpr SettingChoice kErrorModes[] = {{0, "absolute", "Absolute :"}, {1, "quality", "Quality :"}};
constexpr SettingChoice kPriorities[] = {{0, "normal", "Normal"}, {1, "idle", "Idle"}};

constexpr int32_t kInt = static_cast<int32_t>(SettingType::Int32);
constexpr int32_t kFloat = static_cast<int32_t>(SettingType::Float32);
constexpr int32_t kChoice = static_cast<int32_t>(SettingType::Choice);
constexpr double kNone = HUGE_VAL;

constexpr SettingField kFields[kSettingsFieldCount] = {
    {"mode", "Compression mode", kChoice, 0, 0, nullptr, 0, 0, 4, kModes, "",
     "Fidelity cuts until every range meets the tolerance; Size and Least error grow to maxRanges ranges; "
     "Rate-distortion takes the cut that removes the most error per bit, up to maxRanges, lambda or maxRate"},
    {"maxError", "Max error", kFloat, 0, 30.0, nullptr, -kNone, kNone, 0, nullptr, "grey levels",
     "tolerance of a range's RMS error when errorMode is absolute (Fidelity)"},
    {"maxDiffCheck", "Maximal diference checking", kInt, kSettingSwitch, 0, nullptr, 0, 1, 0, nullptr, "",
     "also keep every single pixel's difference within the tolerance (Fidelity)"},
    {"maxRanges", "Max number of ranges", kInt, 0, 100, nullptr, 1, kNone, 0, nullptr, "ranges",
     "number of ranges Size and Least error grow to: the rate knob"},
    {"minRangeSize", "Min range size", kInt, 0, 4, nullptr, 1, kNone, 0, nullptr, "pixels",
     "no cut leaves a range side shorter than this"},
    {"maxRangeSize", "Max range size", kInt, 0, 0, nullptr, -kNone, kNone, 0, nullptr, "pixels",
     "larger ranges are cut without a search; 0 or less for no limit"},
    {"minRangeFactor", "Min range factor", kInt, 0, 2, nullptr, 2, kNone, 0, nullptr, "",
     "smallest domain shrink factor per axis (a domain is this many times the range's side); 1 cannot contract"},
    {"maxRangeFactor", "Max range factor", kInt, 0, 3, nullptr, 2, kNone, 0, nullptr, "",
     "largest domain shrink factor per axis; not below minRangeFactor"},
    {"maxScale", "Max scale factor", kFloat, kSettingMinimumExclusive, 1.0, nullptr, 0, kNone, 0, nullptr, "",
     "largest absolute grey-level scale of a transform"},
    {"offsetLevels", "Offset levels", kInt, 0, 256, nullptr, 2, kNone, 0, nullptr, "levels",
     "number of quantiser levels of the grey-level offset"},
    {"scaleLevels", "Scale levels", kInt, 0, 256, nullptr, 2, kNone, 0, nullptr, "levels",
     "number of quantiser levels of the grey-level scale"},
    {"searchMode", "Search mode", kChoice, 0, 0, nullptr, 0, 0, 4, kSearchModes, "",
     "how domains are searched: every position of the step grid; (rich pool) a coarse grid first and "
     "then every grid position near its best candidates, for small steps and wide factor spans in a mode "
     "that keeps each range's best fit (not Fidelity in tolerance); or (attractor; Size, Least error and "
     "Rate-distortion) the step grid, then every range again against the decoded code, its levels fitted to it; "
     "or (quick attractor) the same with the second search on a coarse grid and around its best candidates"},
    {"stepX", "X step", kInt, 0, 32, nullptr, 1, kNone, 0, nullptr, "pixels",
     "horizontal step of the domain position grid"},
    {"stepY", "Y step", kInt, 0, 32, nullptr, 1, kNone, 0, nullptr, "pixels",
     "vertical step of the domain position grid"},
    {"coverMode", "Covering mode", kChoice, 0, 1, nullptr, 0, 0, 2, kCoverModes, "",
     "Fidelity: search every domain for the best, or take the first within the tolerance"},
    {"errorMode", "Error mode", kChoice, 0, 0, nullptr, 0, 0, 2, kErrorModes, "",
     "tolerance from maxError, or from quality and the picture's value range"},
    {"quality", "Quality", kFloat, 0, 0.95, nullptr, -kNone, kNone, 0, nullptr, "",
     "tolerance = (1 - quality) x value range, when errorMode is quality"},
    {"threadCount", "Number of threads", kInt, 0, 1, nullptr, 1, kMaxThreadCount, 0, nullptr, "threads",
     "domain search workers; with one the code is deterministic"},
    {"threadPriority", "Thread priority", kChoice, 0, 0, nullptr, 0, 0, 2, kPriorities, "",
     "scheduling priority of the search workers"},
    {"feedback", "Feedback window", kInt, kSettingSwitch, 1, nullptr, 0, 1, 0, nullptr, "",
     "show the partition growing in a window while encoding (editor only)"},
    {"lambda", "Lambda", kFloat, 0, 0.0, nullptr, 0, kNone, 0, nullptr, "MSE per bpp",
     "Rate-distortion: stop when the best cut lowers the MSE (grey levels of 0..255) by less than this per bit "
     "per pixel; 0 for no such stop"},
    {"maxRate", "Max rate", kFloat, 0, 0.0, nullptr, 0, kNone, 0, nullptr, "bpp",
     "Rate-distortion: stop before the packed code would exceed this many bits per pixel; 0 for no limit"},
};

constexpr SettingsDescription kDescription{kSettingsDescriptionVersion, kSettingsFieldCount, kFields};

}  // namespace

const SettingsDescription& EncoderSettingsDescription() { return kDescription; }

std::vector<SettingProblem> SettingProblems(const FractalEncoderSettings& s) {
  std::vector<SettingProblem> problems;
  auto check = [&problems](bool ok, const char* field, const char* rule) {
    if (!ok) problems.push_back({field, rule});
  };
  check(s.mode >= 0 && s.mode <= 3, "mode", "must be 0 (Fidelity), 1 (Size), 2 (Least error) or 3 (Rate-distortion)");
  check(s.errorMode == 0 || s.errorMode == 1, "errorMode", "must be 0 (Absolute) or 1 (Quality)");
  check(s.coverMode == 0 || s.coverMode == 1, "coverMode", "must be 0 (Best cover) or 1 (Cover in tolerance)");
  check(s.threadPriority == 0 || s.threadPriority == 1, "threadPriority", "must be 0 (Normal) or 1 (Idle)");
  check(s.searchMode >= 0 && s.searchMode <= 3, "searchMode",
        "must be 0 (Grid search), 1 (Rich pool search), 2 (Attractor search) or 3 (Quick attractor search)");
  check((s.searchMode != 2 && s.searchMode != 3) || GrowsToRangeCount(s.mode), "searchMode",
        s.searchMode == 2
            ? "2 (Attractor search) needs a mode that grows to a range count: Size, Least error or Rate-distortion"
            : "3 (Quick attractor search) needs a mode that grows to a range count: Size, Least error or "
              "Rate-distortion");
  // The rich search keeps the best fits of a range's whole pool; taking the
  // first fit within the tolerance has no such set to narrow down.
  const bool keepsBest = GrowsToRangeCount(s.mode) || (s.mode == 0 && s.coverMode == 0 && s.maxDiffCheck == 0);
  check(s.searchMode != 1 || keepsBest, "searchMode",
        "1 (Rich pool search) needs a mode that keeps each range's best fit: Size, Least error, Rate-distortion, "
        "or Fidelity with \"coverMode\" Best cover and no \"maxDiffCheck\"");
  check(s.maxRanges >= 1, "maxRanges", "must be at least 1");
  check(s.minRangeSize >= 1, "minRangeSize", "must be at least 1");
  // A factor of 1 on both axes lets a range copy itself (scale 1, error 0):
  // the code then has no unique attractor and its decoding diverges.
  check(s.minRangeFactor >= 2, "minRangeFactor",
        "must be at least 2: with factor 1 a domain is no larger than its range, so the code cannot contract");
  check(s.maxRangeFactor >= s.minRangeFactor, "maxRangeFactor", "must not be below \"minRangeFactor\"");
  check(s.stepX >= 1, "stepX", "must be at least 1");
  check(s.stepY >= 1, "stepY", "must be at least 1");
  check(s.scaleLevels >= 2, "scaleLevels", "must be at least 2");
  check(s.offsetLevels >= 2, "offsetLevels", "must be at least 2");
  check(s.threadCount >= 1 && s.threadCount <= kMaxThreadCount, "threadCount", "must lie in 1 ... 64");
  check(std::isfinite(s.maxScale) && s.maxScale > 0.0f, "maxScale", "must be a finite value above 0");
  check(std::isfinite(s.maxError), "maxError", "must be finite");
  check(std::isfinite(s.quality), "quality", "must be finite");
  check(std::isfinite(s.lambda) && s.lambda >= 0.0f, "lambda", "must be a finite value of at least 0");
  check(std::isfinite(s.maxRate) && s.maxRate >= 0.0f, "maxRate", "must be a finite value of at least 0");
  return problems;
}

std::string ValidateSettings(const FractalEncoderSettings& s) {
  const std::vector<SettingProblem> problems = SettingProblems(s);
  if (problems.empty()) return "";
  std::string reason(1, '"');
  reason += problems.front().field;
  reason += "\" ";
  reason += problems.front().rule;
  return reason;
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

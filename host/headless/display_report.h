// What the display filters of a finished run received, read from their
// input pins through the contract alone: text display values as lines, RGB
// and mono display planes as PNG files. [main thread, after the run ended]
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "vorlan/contract.h"

namespace vorlan::host {

class GraphDocument;

inline constexpr int32_t kRgbDisplayId = 30;
inline constexpr int32_t kMonoDisplayId = 60;
inline constexpr int32_t kTextDisplayId = 70;

// A plane sample as an 8-bit grey level: (v - min) / (max - min) * 255,
// NaN as 0, clamped to 0..255, truncated. A plane without a range (min ==
// max) gives 0.
uint8_t SampleToByte(double value, double min, double max);

// The packet an input pin would read now: its peer's published packet, or
// null when the pin is unconnected or the peer has published nothing.
const Packet* PeerPacket(const Pin* input);

// The value a text display shows for `packet` ("%i", "%f" or the text) and
// its type name ("Integer", "Float", "String"); false for other types.
bool FormatDisplayValue(const Packet& packet, std::string& value, std::string& type);

// One line "caption<TAB>value<TAB>type" per text display node, in node-list
// order. Tabs, newlines and backslashes inside caption or value are escaped
// (\t, \n, \\) so each node stays on one line.
void WriteTextDisplayLines(const GraphDocument& document, std::FILE* out);

// `caption` reduced to [A-Za-z0-9._-] (other bytes become '_'), at most 64 bytes.
std::string SafeFileName(std::string_view caption);

// Writes DIR/<nodeid>-<safe caption>.png for every RGB and mono display
// node. Displays without a usable picture are noted in `problems`; a folder
// or file that cannot be written is noted in `failures`. Returns the paths
// written.
std::vector<std::string> WriteDisplaySnapshots(const GraphDocument& document, const std::string& dir,
                                               std::vector<std::string>& problems,
                                               std::vector<std::string>& failures);

}  // namespace vorlan::host

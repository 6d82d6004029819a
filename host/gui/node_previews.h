// What nodes show of a run: a small picture of a plane a node published
// (after a run), and each node's state with a thin progress bar (during
// one). [ui thread, no run active for the pictures]
#pragma once

#include <QImage>
#include <cstdint>
#include <map>

#include "vorlan/contract.h"

namespace vorlan::host {
class GraphDocument;
}

namespace vorlan::gui {

// The largest side of a preview picture, in pixels.
inline constexpr int kPreviewSide = 48;

// A grey picture of the plane, at most `side` pixels on its longer side,
// samples mapped from the plane's nominal range to 0..255. Null for a plane
// record that does not hold together (sizes, sample count).
QImage PlanePreview(const Plane& plane, int side = kPreviewSide);

// Red, green and blue planes of one size as a colour picture; null when
// their sizes differ or a plane does not hold together.
QImage ColourPreview(const Plane& r, const Plane& g, const Plane& b, int side = kPreviewSide);

// By node id, the picture of what each node publishes: three planes of one
// size in colour, else the first plane in grey. Nodes without a published
// plane have none.
std::map<int32_t, QImage> CollectPreviews(const host::GraphDocument& document);

// During a run: the node in Process and its fraction done.
struct RunProgress {
  bool active = false;
  int32_t currentNodeId = -1;
  float fraction = 0;
};

}  // namespace vorlan::gui

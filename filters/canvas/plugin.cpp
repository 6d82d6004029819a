// The RGB Display Library: the RGB display with its window and settings
// dialog.
#include "image_display_plugin.h"
#include "rgb_display_filter.h"
#include "vorlan/export.h"

namespace vorlan {
using RgbDisplayPlugin = ImageDisplayPlugin<RgbDisplayFilter>;
}

VORLAN_FILTER_LIBRARY(vorlan::RgbDisplayPlugin, "RGB Display Library")

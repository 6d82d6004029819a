// The Mono Display Library: the mono display with its window and settings
// dialog.
#include "image_display_plugin.h"
#include "mono_display_filter.h"
#include "vorlan/export.h"

namespace vorlan {
using MonoDisplayPlugin = ImageDisplayPlugin<MonoDisplayFilter>;
}

VORLAN_FILTER_LIBRARY(vorlan::MonoDisplayPlugin, "Mono Display Library")

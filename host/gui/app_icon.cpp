#include "app_icon.h"

// The resource lives in a static library: register it explicitly.
static void InitVorlanResources() { Q_INIT_RESOURCE(vorlan); }

namespace vorlan::gui {

QIcon ApplicationIcon() {
  static const bool registered = (InitVorlanResources(), true);
  (void)registered;
  return QIcon(QStringLiteral(":/vorlan/vorlan.png"));
}

}  // namespace vorlan::gui

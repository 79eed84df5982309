#include "desktop/desktop.h"

#include <QtGlobal>

static void registerResources() {
    Q_INIT_RESOURCE(resources);
}

namespace Desktop {

void ensureResources() {
    static const bool done = (registerResources(), true);
    Q_UNUSED(done);
}

} // namespace Desktop

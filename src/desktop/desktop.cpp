#include "desktop/desktop.h"

#include <QPointer>
#include <QWidget>

static void registerResources() {
    Q_INIT_RESOURCE(resources);
}

namespace Desktop {

namespace {
QPointer<QWidget> registeredMainWindow;
} // namespace

void ensureResources() {
    static const bool done = (registerResources(), true);
    Q_UNUSED(done);
}

QWidget* mainWindow() {
    return registeredMainWindow.data();
}

void setMainWindow(QWidget* window) {
    registeredMainWindow = window;
}

} // namespace Desktop

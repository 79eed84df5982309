#include "bridge/libraryloader.h"

#include "core/appinfo.h"
#include "library/librarymodule.h"

#include <QElapsedTimer>
#include <QPluginLoader>

#include <utility>

LibraryLoader::LibraryLoader(QString fileName) : file(std::move(fileName)) {}

LibraryLoader::~LibraryLoader() = default; // never unloads: items and texts may point into the module

QString LibraryLoader::defaultFileName() {
    return AppInfo::applicationDirectory() + QStringLiteral("/" TAVROLIN_LIBRARY_MODULE);
}

LibraryModule* LibraryLoader::module() {
    if (loaded || loader)
        return loaded;
    QElapsedTimer timer;
    timer.start();
    loader = std::make_unique<QPluginLoader>(file);
    QObject* root = loader->instance();
    loaded = qobject_cast<LibraryModule*>(root);
    if (loaded) {
        qDebug("Library module %s loaded in %lld ms", qPrintable(file), qint64(timer.elapsed()));
    } else {
        error = root ? QStringLiteral("%1 is not the program's library module").arg(file) : loader->errorString();
        qWarning("Library module: %s", qPrintable(error));
    }
    return loaded;
}

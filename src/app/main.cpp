#include "app/application.h"
#include "app/mainwindow.h"
#include "core/logging.h"

int main(int argc, char* argv[]) {
    qInstallMessageHandler(Logging::messageHandler);
    QCoreApplication::addLibraryPath(QStringLiteral("./plugins"));

    Application app(argc, argv);
    MainWindow window(nullptr);
    return app.exec();
}

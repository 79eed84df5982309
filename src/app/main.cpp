#include "app/application.h"
#include "app/logging.h"
#include "app/mainwindow.h"

int main(int argc, char* argv[]) {
    qInstallMessageHandler(Logging::messageHandler);
    QCoreApplication::addLibraryPath(QStringLiteral("./plugins"));

    Application app(argc, argv);
    MainWindow window(nullptr);
    return app.exec();
}

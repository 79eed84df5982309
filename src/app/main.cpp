#include "app/application.h"
#include "app/mainwindow.h"
#include "app/mediaopening.h"
#include "app/singleinstance.h"
#include "core/appinfo.h"
#include "core/logging.h"
#include "desktop/desktop.h"

#include <QDir>
#include <QTimer>

int main(int argc, char* argv[]) {
    qInstallMessageHandler(Logging::messageHandler);
    QCoreApplication::addLibraryPath(QStringLiteral("./plugins"));

    Application app(argc, argv);

    // A second start brings the running program forward (with this command
    // line) and ends.
    SingleInstance instance;
    switch (instance.claim(QCoreApplication::arguments(), QDir::currentPath())) {
    case SingleInstance::Claim::HandedOver:
        return 0;
    case SingleInstance::Claim::Unanswered:
        Desktop::message(nullptr, QMessageBox::Critical, QString::fromLatin1(AppInfo::productName),
                         QCoreApplication::translate("main", "Tavrolin 已在运行，但没有响应。请关闭它后再试。"));
        return 1;
    case SingleInstance::Claim::First:
        break;
    }

    MainWindow window(nullptr);
    QObject::connect(&instance, &SingleInstance::commandLineReceived, &window, &MainWindow::receiveCommandLine);
    // Files named on this command line, once the window is up.
    const QStringList files = MediaOpening::filesFromCommandLine(QCoreApplication::arguments(), QDir::currentPath());
    if (!files.isEmpty())
        QTimer::singleShot(0, &window, [&window, files] { window.openMediaFiles(files); });
    return app.exec();
}

#include "app/application.h"
#include "app/logging.h"
#include "app/mainwindow.h"

#include <QApplication>
#include <QFont>
#include <QTextCodec>

#include <clocale>

int main(int argc, char* argv[]) {
    qInstallMessageHandler(Logging::messageHandler);
    QCoreApplication::addLibraryPath(QStringLiteral("./plugins"));

    Application app(argc, argv);
    // libmpv refuses to start unless numbers are formatted the C way.
    std::setlocale(LC_NUMERIC, "C");

    QFont font;
    font.setFamily(QStringLiteral("Microsoft Yahei, 宋体"));
    font.setPointSize(9);
    QApplication::setFont(font);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));

    MainWindow window(nullptr);
    return app.exec();
}

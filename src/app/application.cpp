#include "app/application.h"

#include "app/appinfo.h"

#include <QMessageBox>

#include <exception>

static void showFailure(const QString& text) {
    QMessageBox::critical(nullptr, QString::fromLatin1(AppInfo::productName), text);
}

void (*Application::reportFailure)(const QString& text) = showFailure;

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& failure) {
        qCritical("%s", failure.what());
        reportFailure(tr("媒体播放器无法启动：%1").arg(QString::fromUtf8(failure.what())));
        return false;
    }
}

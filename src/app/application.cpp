#include "app/application.h"

#include "core/appinfo.h"
#include "desktop/desktop.h"
#include "player/mpvtypes.h"

#include <QFont>
#include <QMessageBox>
#include <QTextCodec>

#include <clocale>
#include <exception>

namespace {

void showFailure(const QString& text) {
    Desktop::message(nullptr, QMessageBox::Critical, QString::fromLatin1(AppInfo::productName), text);
}

// Scaling has to be chosen before the application object exists: sizes follow
// the screen's scale factor, a fractional one (125 %, 150 %) as it is rather
// than rounded, and images are drawn at the screen's resolution.
int& withScreenScaling(int& argc) {
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    return argc;
}

} // namespace

Application::Application(int& argc, char** argv) : QApplication(withScreenScaling(argc), argv) {
    // libmpv refuses to start unless numbers are formatted the C way.
    std::setlocale(LC_NUMERIC, "C");

    QFont font;
    font.setFamily(QStringLiteral("Microsoft Yahei, 宋体"));
    font.setPointSize(9);
    QApplication::setFont(font);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const MediaEngineError& failure) {
        qCritical("%s", failure.what());
        showFailure(tr("媒体播放器无法启动：%1").arg(QString::fromUtf8(failure.what())));
        return false;
    } catch (const std::exception& failure) {
        qCritical("Unexpected failure: %s", failure.what());
        showFailure(tr("程序内部错误：%1").arg(QString::fromUtf8(failure.what())));
        return false;
    }
}

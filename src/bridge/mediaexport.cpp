#include "bridge/mediaexport.h"

#include "core/settings.h"
#include "desktop/desktop.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QtDebug>

namespace MediaExport {

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("WebApi", text);
}

// Copies through a temporary file beside the target, so an existing target
// survives a failed copy, and a target that is the source itself stays whole.
bool copyReplacing(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    QByteArray buffer(1024 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0) {
            out.cancelWriting();
            return false;
        }
        if (n == 0)
            break;
        if (out.write(buffer.constData(), n) != n) {
            out.cancelWriting();
            return false;
        }
    }
    return out.commit();
}

} // namespace

QString cleanFileName(const QString& fileName) {
    QString name = fileName;
    name.remove(QLatin1Char('?'));
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.remove(QLatin1Char('\\'));
    return name;
}

Outcome saveExportFile(const QString& source, const QString& fileName) {
    QString prefix =
        QSettings(Settings::settingsFilePath(), QSettings::IniFormat).value(Settings::StorePrefix).toString();
    if (prefix.isEmpty())
        prefix = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + QLatin1Char('/');

    const QString name = cleanFileName(fileName);
    const QString suggestion = prefix + name;
    // Decided by the name alone: a folder called "x.mp4" must not turn an audio export into a video one.
    const bool video = name.contains(QLatin1String(".mp4"));
    const QString caption =
        video ? tr(QT_TRANSLATE_NOOP("WebApi", "保存视频文件")) : tr(QT_TRANSLATE_NOOP("WebApi", "保存音频文件"));
    const QString filter =
        video ? tr(QT_TRANSLATE_NOOP("WebApi", "视频文件(*.mp4)")) : tr(QT_TRANSLATE_NOOP("WebApi", "音频文件(*.mp3)"));

    const QString target = Desktop::saveFileName(nullptr, caption, suggestion, filter);
    if (target.isEmpty())
        return Outcome::Cancelled;

    QSettings(Settings::settingsFilePath(), QSettings::IniFormat)
        .setValue(Settings::StorePrefix, target.left(target.lastIndexOf(QLatin1Char('/')) + 1));

    return copyReplacing(source, target) ? Outcome::Exported : Outcome::Failed;
}

QString outcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::Exported:
        return tr(QT_TRANSLATE_NOOP("WebApi", "文件导出成功。"));
    case Outcome::Failed:
        return tr(QT_TRANSLATE_NOOP("WebApi", "文件导出失败，请尝试重新下载后导出。"));
    case Outcome::Cancelled:
        break;
    }
    return QString();
}

} // namespace MediaExport

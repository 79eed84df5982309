#include "core/logging.h"

#include "core/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTextStream>

#include <cstdio>

namespace Logging {

QString logFilePath() {
#ifdef Q_OS_WIN
    return QStringLiteral("d:\\vorb_log.txt");
#else
    return dataDirectory() + QStringLiteral("vorb_log.txt");
#endif
}

QString formatLine(int type, const QString& message) {
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug: %1").arg(message);
    case QtWarningMsg:
        return QStringLiteral("Warning: %1").arg(message);
    case QtCriticalMsg:
        return QStringLiteral("Critical: %1").arg(message);
    case QtFatalMsg:
        return QStringLiteral("Fatal: %1").arg(message);
    default:
        return QString();
    }
}

namespace {

QString rotatedPath(const QString& path) {
    QFileInfo info(path);
    QString base = info.completeBaseName();
    QString suffix = info.suffix();
    return info.dir().filePath(base + QStringLiteral(".old") + (suffix.isEmpty() ? QString() : "." + suffix));
}

} // namespace

void appendLine(const QString& path, const QString& line, qint64 maxSize) {
    // Lines from several threads are serialised so that rotation and appends
    // never interleave.
    static QMutex mutex;
    QMutexLocker locker(&mutex);

    QFileInfo info(path);
    if (info.exists() && info.size() > maxSize) {
        const QString old = rotatedPath(path);
        QFile::remove(old);
        QFile::rename(path, old);
    } else if (!info.exists()) {
        if (QDir::cleanPath(info.absolutePath()) == QDir::cleanPath(dataDirectory()))
            ensureDataDirectory();
        else
            QDir().mkpath(info.absolutePath());
    }

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        // Nowhere to log to: the line goes to standard error rather than nowhere.
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        std::fflush(stderr);
        return;
    }
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    stream << line << Qt::endl;
}

void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    Q_UNUSED(context);
    appendLine(logFilePath(), formatLine(type, message));
}

} // namespace Logging

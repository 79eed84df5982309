#pragma once

#include <QString>
#include <QtGlobal>

namespace Logging {

// A log file larger than this is moved aside to "vorb_log.old.txt" before the
// next line is written, so the log cannot fill the disk.
inline constexpr qint64 maxLogSize = 8 * 1024 * 1024;

// Where the message handler writes.
QString logFilePath();

// The text written for a message of the given type ("Debug: ..." and so on);
// an unknown type gives an empty line.
QString formatLine(int type, const QString& message);

// Appends one line to the log file at path, rotating it first when it has
// passed maxSize. Safe to call from any thread.
void appendLine(const QString& path, const QString& line, qint64 maxSize = maxLogSize);

// The process-wide Qt message handler.
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

} // namespace Logging

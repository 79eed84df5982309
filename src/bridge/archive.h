#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QIODevice;

// Unpacking of the downloaded article archives (ZIP, entries possibly
// password-protected).
namespace Archive {

// Limits against archives that unpack to far more than they weigh.
struct Limits {
    qint64 maxTotalBytes = qint64(256) * 1024 * 1024;
    int maxEntries = 10000;
};

// The password of every entry of the service's archives.
QByteArray password();

// Whether an entry name stays inside the destination: relative, '/'-separated,
// no drive letter, no "\" and no segment made only of dots.
bool isSafeEntryName(const QString& name);

} // namespace Archive

// Unpacks the archive into destDir (entries whose name contains nameFilter, or
// all when it is empty). Everything is unpacked into a temporary sibling of
// destDir, which replaces destDir only when the whole archive unpacked; on any
// failure destDir is left as it was. An archive with an unsafe entry name or a
// symbolic link is refused whole.
bool extractArchive(const QString& zipPath, const QString& destDir, const QByteArray& password,
                    const QString& nameFilter, const Archive::Limits& limits = Archive::Limits());
bool extractArchive(QIODevice* zipData, const QString& destDir, const QByteArray& password, const QString& nameFilter,
                    const Archive::Limits& limits = Archive::Limits());

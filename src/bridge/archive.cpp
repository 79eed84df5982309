#include "bridge/archive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtDebug>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>

namespace Archive {

QByteArray password() {
    return QByteArrayLiteral("LEXAstoreJS_@vantol456");
}

bool isSafeEntryName(const QString& name) {
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
        name.contains(QLatin1Char(':')) || name.contains(QChar(0)))
        return false;
    QStringList segments = name.split(QLatin1Char('/'));
    if (segments.size() > 1 && segments.last().isEmpty())
        segments.removeLast(); // a directory entry ends in "/"
    for (const QString& segment : segments) {
        // Empty and dot-only segments ("", ".", "..", "...") have no business in an article.
        bool onlyDots = true;
        for (QChar c : segment)
            onlyDots = onlyDots && c == QLatin1Char('.');
        if (onlyDots)
            return false;
    }
    return true;
}

} // namespace Archive

namespace {

// Unpacks every wanted entry into an existing, empty directory.
bool unpackInto(QuaZip& zip, const QString& dir, const QByteArray& password, const QString& nameFilter,
                const Archive::Limits& limits) {
    if (zip.getEntriesCount() > limits.maxEntries) {
        qWarning("extractArchive(): more than %d entries", limits.maxEntries);
        return false;
    }
    qint64 total = 0;
    int entries = 0;
    QByteArray buffer(64 * 1024, Qt::Uninitialized);

    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        if (++entries > limits.maxEntries) {
            qWarning("extractArchive(): more than %d entries", limits.maxEntries);
            return false;
        }
        QuaZipFileInfo64 info;
        if (!zip.getCurrentFileInfo(&info)) {
            qWarning("testRead(): getCurrentFileInfo(): %d\n", zip.getZipError());
            return false;
        }
        if (!Archive::isSafeEntryName(info.name) || info.isSymbolicLink()) {
            qWarning("extractArchive(): refused entry \"%s\"", qUtf8Printable(info.name));
            return false;
        }
        if (!nameFilter.isEmpty() && !info.name.contains(nameFilter))
            continue;

        const QString outPath = QStringLiteral("%1/%2").arg(dir, info.name);
        if (info.name.endsWith(QLatin1Char('/'))) {
            if (!QDir().mkpath(outPath)) {
                qWarning("extractArchive(): cannot create %s", qUtf8Printable(outPath));
                return false;
            }
            continue;
        }

        // The reader would apply a password to an entry that has none and garble it.
        const bool encrypted = info.flags & 0x0001;
        QuaZipFile file(&zip);
        if (!file.open(QIODevice::ReadOnly, encrypted ? password.constData() : nullptr)) {
            qWarning("testRead(): file.open(): %d", file.getZipError());
            return false;
        }
        if (!QDir().mkpath(QFileInfo(outPath).absolutePath())) {
            qWarning("extractArchive(): cannot create the folder of %s", qUtf8Printable(outPath));
            return false;
        }
        if (file.getZipError() != UNZ_OK) {
            qWarning("testRead(): file.getFileName(): %d", file.getZipError());
            return false;
        }

        QFile out(outPath);
        if (!out.open(QIODevice::WriteOnly)) {
            qWarning("extractArchive(): cannot write %s", qUtf8Printable(outPath));
            return false;
        }
        for (;;) {
            const qint64 n = file.read(buffer.data(), buffer.size());
            if (n <= 0)
                break;
            total += n;
            if (total > limits.maxTotalBytes) {
                qWarning("extractArchive(): unpacks to more than %lld bytes", limits.maxTotalBytes);
                return false;
            }
            if (out.write(buffer.constData(), n) != n) {
                qWarning("extractArchive(): cannot write %s", qUtf8Printable(outPath));
                return false;
            }
        }
        if (!out.flush()) {
            qWarning("extractArchive(): cannot write %s", qUtf8Printable(outPath));
            return false;
        }
        out.close();

        if (file.getZipError() != UNZ_OK) {
            qWarning("testRead(): file.getFileName(): %d", file.getZipError());
            return false;
        }
        if (!file.atEnd()) {
            qWarning("testRead(): read all but not EOF");
            return false;
        }
        file.close();
        if (file.getZipError() != UNZ_OK) {
            qWarning("testRead(): file.close(): %d", file.getZipError());
            return false;
        }
    }
    return zip.getZipError() == UNZ_OK;
}

// Puts the freshly unpacked directory where destDir was, keeping the old one
// until the new one is in place.
bool replaceDirectory(QTemporaryDir& fresh, const QString& destDir) {
    const QString dest = QDir::cleanPath(destDir);
    QDir parent = QFileInfo(dest).dir();
    QString old;
    if (QFileInfo::exists(dest)) {
        QTemporaryDir oldSlot(dest + QStringLiteral(".old-XXXXXX"));
        if (!oldSlot.isValid())
            return false;
        old = oldSlot.path();
        oldSlot.setAutoRemove(false);
        if (!parent.rmdir(old) || !parent.rename(dest, old))
            return false;
    }
    if (!parent.rename(fresh.path(), dest)) {
        if (!old.isEmpty())
            parent.rename(old, dest);
        return false;
    }
    fresh.setAutoRemove(false);
    if (!old.isEmpty())
        QDir(old).removeRecursively();
    return true;
}

// Folders left by a run that was killed while unpacking.
void removeLeftovers(const QString& dest) {
    const QFileInfo info(dest);
    QDir parent = info.dir();
    const QStringList patterns{info.fileName() + QStringLiteral(".new-??????"),
                               info.fileName() + QStringLiteral(".old-??????")};
    for (const QString& name : parent.entryList(patterns, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
        QDir(parent.filePath(name)).removeRecursively();
}

bool extract(QuaZip& zip, const QString& destDir, const QByteArray& password, const QString& nameFilter,
             const Archive::Limits& limits) {
    if (!zip.open(QuaZip::mdUnzip))
        return false;

    const QString dest = QDir::cleanPath(QFileInfo(destDir).absoluteFilePath());
    QDir().mkpath(QFileInfo(dest).absolutePath());
    removeLeftovers(dest);
    // A sibling, so that moving it into place is a rename on the same file system.
    QTemporaryDir staging(dest + QStringLiteral(".new-XXXXXX"));
    if (!staging.isValid()) {
        qWarning("extractArchive(): cannot create a folder beside %s", qUtf8Printable(dest));
        return false;
    }

    const bool unpacked = unpackInto(zip, staging.path(), password, nameFilter, limits);
    zip.close();
    if (!unpacked || zip.getZipError() != UNZ_OK)
        return false;
    if (!replaceDirectory(staging, dest)) {
        qWarning("extractArchive(): cannot move the unpacked files to %s", qUtf8Printable(dest));
        return false;
    }
    return true;
}

} // namespace

bool extractArchive(const QString& zipPath, const QString& destDir, const QByteArray& password,
                    const QString& nameFilter, const Archive::Limits& limits) {
    QuaZip zip(zipPath);
    return extract(zip, destDir, password, nameFilter, limits);
}

bool extractArchive(QIODevice* zipData, const QString& destDir, const QByteArray& password, const QString& nameFilter,
                    const Archive::Limits& limits) {
    QuaZip zip(zipData);
    return extract(zip, destDir, password, nameFilter, limits);
}

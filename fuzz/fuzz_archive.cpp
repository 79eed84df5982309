// Unpacking arbitrary bytes as an article archive into a temporary folder.
#include "bridge/archive.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdint>

namespace {
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool init = (qInstallMessageHandler(quiet), true);
    Q_UNUSED(init);
    QTemporaryDir root;
    if (!root.isValid())
        return 0;
    const QString dest = root.path() + QStringLiteral("/data/articleContent");
    QDir().mkpath(root.path() + QStringLiteral("/data"));

    QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    QBuffer buffer(&bytes);
    Archive::Limits limits;
    limits.maxTotalBytes = 4 * 1024 * 1024; // keep each run short; the check is the same
    limits.maxEntries = 200;
    const bool ok = extractArchive(&buffer, dest, Archive::password(), QString(), limits);

    // Nothing may appear outside the data folder, and a failure leaves nothing behind.
    const QStringList top =
        QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    if (top != QStringList{QStringLiteral("data")})
        __builtin_trap();
    const QStringList inData = QDir(root.path() + QStringLiteral("/data"))
                                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    if (ok ? inData != QStringList{QStringLiteral("articleContent")} : !inData.isEmpty())
        __builtin_trap();
    QDirIterator it(dest, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (it.fileInfo().isSymLink())
            __builtin_trap();
    }
    return 0;
}

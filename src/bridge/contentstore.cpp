#include "bridge/contentstore.h"

#include "bridge/archive.h"
#include "bridge/contentcipher.h"
#include "core/pageprotocol.h"
#include "core/settings.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QNetworkReply>
#include <QSaveFile>
#include <QSet>
#include <QTemporaryFile>
#include <QtDebug>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Text up to the first NUL byte (Qt 5's QByteArray overload stops there).
QString utf8UpToNul(const QByteArray& bytes) {
    return QString::fromUtf8(bytes);
}

const char* suffixOf(ContentStore::Part part) {
    switch (part) {
    case ContentStore::Part::Media:
        return ".rar"; // the name says nothing about the media's format
    case ContentStore::Part::Archive:
        return ".zip";
    case ContentStore::Part::SentenceData:
        return ".bin";
    }
    return "";
}

// A short write says nothing of why; writing on is what brings the error (a full disk, say) to light.
bool writeAll(QFileDevice& to, const char* data, qint64 size) {
    for (qint64 done = 0; done < size;) {
        const qint64 n = to.write(data + done, size - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool copyAll(QIODevice* from, QSaveFile& to, qint64* copied) {
    // A finished reply says "no more" with -1 once its buffer is drained; that is its end, not an error.
    auto* reply = qobject_cast<QNetworkReply*>(from);
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 n = from->read(buffer.data(), buffer.size());
        if (n < 0)
            return reply && reply->isFinished() && reply->error() == QNetworkReply::NoError;
        if (n == 0)
            return true; // a finished reply has everything buffered
        if (!writeAll(to, buffer.constData(), n))
            return false;
        *copied += n;
    }
}

// A connection closed early can end a reply without an error; the announced length
// tells. (With a content encoding it counts the encoded bytes, not what arrives here.)
QString shortOfAnnounced(QIODevice* body, qint64 received) {
    auto* reply = qobject_cast<QNetworkReply*>(body);
    if (!reply || reply->hasRawHeader("Content-Encoding"))
        return QString();
    bool known = false;
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (!known || received == announced)
        return QString();
    return QStringLiteral("incomplete transfer: %1 of %2 bytes").arg(received).arg(announced);
}

// The data directory is made owner-only; any other folder as it comes.
void prepareDirectory(const QString& dir) {
    if (QDir::cleanPath(dir) == QDir::cleanPath(dataDirectory()))
        ensureDataDirectory();
    else
        QDir().mkpath(dir);
}

} // namespace

ContentStore::ContentStore() : dir(dataDirectory()) {}

ContentStore::ContentStore(const QString& directory) : dir(directory) {}

quint64 ContentStore::programKey() {
    // Put together at run time so the whole key never sits in the binary as one constant.
    volatile quint32 low = 0x6E3A91C5u;
    volatile quint32 high = 0x2D7F04B8u;
    quint64 key = low;
    key |= quint64(high) << 32;
    return key;
}

bool ContentStore::isValidArticleId(const QString& articleId) {
    return !articleId.isEmpty() && !articleId.contains(QLatin1Char('/')) && !articleId.contains(QLatin1Char('\\')) &&
           !articleId.contains(QLatin1String("..")) && !articleId.contains(QLatin1Char(':')) &&
           !articleId.contains(QChar(0));
}

QString ContentStore::partPath(const QString& articleId, Part part) const {
    if (!isValidArticleId(articleId))
        return QString();
    return dir + articleId + QLatin1String(suffixOf(part));
}

ContentStore::StoreResult ContentStore::storePart(const QString& articleId, Part part, QIODevice* body) {
    lastError.clear();
    const QString path = partPath(articleId, part);
    if (path.isEmpty()) {
        lastError = QStringLiteral("unusable article id \"%1\"").arg(articleId);
        qWarning("Refused to store a part for the article id \"%s\"", qUtf8Printable(articleId));
        return StoreResult::Refused;
    }
    if (QFileInfo::exists(path))
        return StoreResult::Exists;

    prepareDirectory(dir);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        lastError = QStringLiteral("cannot create %1: %2").arg(path, file.errorString());
        qWarning("Cannot create %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return StoreResult::Failed;
    }
    bool ok;
    QString cause;
    if (part == Part::SentenceData) {
        const QByteArray plain = body->readAll();
        cause = shortOfAnnounced(body, plain.size());
        ContentCipher cipher(programKey());
        cipher.setCompressionMode(ContentCipher::CompressionAlways);
        cipher.setIntegrityMode(ContentCipher::ProtectionHash);
        const QByteArray encrypted = cause.isEmpty() ? cipher.encrypt(plain) : QByteArray();
        ok = cause.isEmpty() && cipher.lastError() == ContentCipher::ErrorNoError &&
             writeAll(file, encrypted.constData(), encrypted.size());
        if (cause.isEmpty() && cipher.lastError() != ContentCipher::ErrorNoError)
            cause = QStringLiteral("the sentence data could not be enciphered");
    } else {
        qint64 copied = 0;
        ok = copyAll(body, file, &copied);
        if (!ok && file.error() == QFileDevice::NoError)
            cause = QStringLiteral("the download broke off: ") + body->errorString();
        if (ok) {
            cause = shortOfAnnounced(body, copied);
            ok = cause.isEmpty();
        }
    }
    if (ok && !file.commit())
        ok = false;
    if (!ok) {
        // Cancelling replaces the file's error with its own, so the cause is read first.
        if (cause.isEmpty())
            cause = file.errorString();
        file.cancelWriting();
        lastError = QStringLiteral("cannot write %1: %2").arg(path, cause);
        qWarning("Cannot write %s: %s", qUtf8Printable(path), qUtf8Printable(cause));
        return StoreResult::Failed;
    }
    return StoreResult::Stored;
}

ContentStore::StoreResult ContentStore::storePart(const QString& articleId, Part part, const QByteArray& body) {
    QByteArray copy = body;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return storePart(articleId, part, &buffer);
}

bool ContentStore::isComplete(const QString& articleId) const {
    if (!isValidArticleId(articleId))
        return false;
    return QFileInfo::exists(partPath(articleId, Part::Media)) &&
           QFileInfo::exists(partPath(articleId, Part::SentenceData)) &&
           QFileInfo::exists(partPath(articleId, Part::Archive));
}

QString ContentStore::thumbnailPath(const QString& url) const {
    QString rel = url.toLower();
    const int pool = rel.indexOf(QLatin1String("pool/"));
    if (pool < 0)
        return QString();
    rel = rel.mid(pool + 5);
    const int query = rel.indexOf(QLatin1Char('?'));
    if (query >= 0)
        rel.truncate(query);

    const int slash = rel.indexOf(QLatin1Char('/'));
    if (slash <= 0 || slash == rel.size() - 1)
        return QString();
    if (rel.contains(QLatin1Char('\\')) || rel.contains(QChar(0)))
        return QString();
    for (const QString& segment : rel.split(QLatin1Char('/'))) {
        if (segment == QLatin1String("..") || segment == QLatin1String("."))
            return QString();
    }
    const QString first = rel.left(slash);
    const QString rest = rel.mid(slash + 1);
    return dir + first + QStringLiteral("//") + rest;
}

bool ContentStore::storeThumbnail(const QString& url, const QByteArray& body) {
    const QString path = thumbnailPath(url);
    if (path.isEmpty()) {
        qWarning("Skipped the thumbnail %s", qUtf8Printable(url));
        return false;
    }
    const QString rel = path.mid(dir.size());
    prepareDirectory(dir);
    QDir(dir).mkdir(rel.left(rel.indexOf(QLatin1Char('/'))));

    // Measured from the header first: a small file can claim a picture that takes gigabytes to decode.
    if (body.size() > maxThumbnailBytes) {
        qWarning("Skipped the thumbnail %s: %lld bytes", qUtf8Printable(url), qint64(body.size()));
        return false;
    }
    QByteArray data = body;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (!size.isValid())
        return false; // not a picture
    if (size.width() > maxThumbnailSide || size.height() > maxThumbnailSide) {
        qWarning("Skipped the thumbnail %s: %dx%d pixels", qUtf8Printable(url), size.width(), size.height());
        return false;
    }
    const QImage image = reader.read();
    if (image.isNull())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&file, QFileInfo(path).suffix().toLatin1());
    if (!writer.write(image)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QString ContentStore::getFileContent(const QString& articleId, const QString& fileType) {
    if (!isValidArticleId(articleId))
        return PageProtocol::contentError;
    if (fileType == PageProtocol::sentenceFile)
        return readEncrypted(partPath(articleId, Part::SentenceData));
    if (fileType == PageProtocol::articleFile) {
        // Left behind, the article unpacked before would be shown in place of this one.
        if (!extractArchive(partPath(articleId, Part::Archive), articleContentDir(), Archive::password(), QString())) {
            QDir(articleContentDir()).removeRecursively();
            return PageProtocol::contentError;
        }
        return readText(articleContentDir() + QStringLiteral("//index.html"));
    }
    return PageProtocol::contentError;
}

void ContentStore::deleteDiskArticleData(const QString& articleId) {
    if (!isValidArticleId(articleId))
        return;
    for (Part part : {Part::Archive, Part::Media, Part::SentenceData}) {
        const QString path = partPath(articleId, part);
        if (QFileInfo::exists(path))
            QFile::remove(path);
    }
}

QString ContentStore::readEncrypted(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return PageProtocol::contentError;
    ContentCipher cipher(programKey());
    const QByteArray plain = cipher.decrypt(file.readAll());
    // Damaged data is a failure the page can tell from an empty article.
    if (cipher.lastError() != ContentCipher::ErrorNoError) {
        qWarning("Sentence data %s does not decipher (error %d)", qUtf8Printable(path), int(cipher.lastError()));
        return PageProtocol::contentError;
    }
    return utf8UpToNul(plain);
}

QString ContentStore::readText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return PageProtocol::contentError;
    QByteArray text;
    while (!file.atEnd())
        text += file.readLine();
    return utf8UpToNul(text);
}

namespace {

// The temporary files this process is writing, which are not left-overs.
QSet<QString>& growing() {
    static QSet<QString> paths;
    return paths;
}

} // namespace

PartFile::PartFile(const QString& path) : path(path) {}

PartFile::~PartFile() {
    drop();
}

bool PartFile::open() {
    const QFileInfo info(path);
    prepareDirectory(info.absolutePath());
    // Left by a process that was killed while writing this part.
    const QDir dir = info.absoluteDir();
    for (const QString& name :
         dir.entryList({info.fileName() + QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden)) {
        if (!growing().contains(dir.filePath(name)))
            QFile::remove(dir.filePath(name));
    }
    file = std::make_unique<QTemporaryFile>(path + QStringLiteral(".XXXXXX.part"));
    written = 0;
    if (!file->open()) {
        const int code = errno;
        fail(code, QStringLiteral("cannot create a temporary file for %1: %2").arg(path, file->errorString()));
        return false;
    }
    growing().insert(file->fileName());
    return true;
}

QString PartFile::temporaryPath() const {
    return file ? file->fileName() : QString();
}

bool PartFile::write(const QByteArray& data) {
    if (!file)
        return false;
    if (!writeAll(*file, data.constData(), data.size())) {
        const int code = errno;
        fail(code, QStringLiteral("cannot write %1: %2").arg(file->fileName(), file->errorString()));
        return false;
    }
    written += data.size();
    return true;
}

bool PartFile::restart() {
    drop();
    return open();
}

bool PartFile::commit() {
    if (!file)
        return false;
    // Buffered bytes reach the disk here, so a full disk may only show now.
    if (!file->flush()) {
        const int code = errno;
        fail(code, QStringLiteral("cannot write %1: %2").arg(file->fileName(), file->errorString()));
        return false;
    }
    const QString temporary = file->fileName();
    file->close();
    // Renamed in one step, as QSaveFile would: the part file is there whole or not at all.
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0) {
        const int code = errno;
        fail(code, QStringLiteral("cannot rename %1 to %2: %3")
                       .arg(temporary, path, QString::fromLocal8Bit(std::strerror(code))));
        return false;
    }
    file->setAutoRemove(false);
    growing().remove(temporary);
    file.reset();
    return true;
}

void PartFile::drop() {
    if (!file)
        return;
    growing().remove(file->fileName());
    file.reset(); // removes the temporary file
}

void PartFile::fail(int code, const QString& what) {
    error = what;
    errorCode = code;
    qWarning("%s", qUtf8Printable(what));
    drop();
}

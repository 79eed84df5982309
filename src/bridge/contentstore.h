#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>

class QIODevice;
class QTemporaryFile;

// The downloaded articles as flat files in the data directory D:
//   D + id + ".rar"   the media file, as the service sent it
//   D + id + ".zip"   the article's archive (index.html and its pictures)
//   D + id + ".bin"   the sentence data, enciphered with the program's key
//   D + "articleContent"  the unpacked archive of the article read last
//   D + first + "//" + rest  thumbnail pictures (see thumbnailPath)
// Part files are written through a temporary file and renamed into place, so
// a part file that exists is always whole.
class ContentStore {
public:
    enum class Part { Media, Archive, SentenceData };
    enum class StoreResult {
        Stored,  // written now
        Exists,  // already there, nothing written
        Refused, // unusable article id
        Failed,  // could not be read or written; no part file was left
    };

    // directory must end with a separator; by default the data directory.
    ContentStore();
    explicit ContentStore(const QString& directory);

    const QString& directory() const { return dir; }

    // The fixed key of the ".bin" files.
    static quint64 programKey();

    // An id is used in file names only when it is not empty and has no "/",
    // "\", "..", ":" or NUL.
    static bool isValidArticleId(const QString& articleId);

    // Empty for an id that is not valid.
    QString partPath(const QString& articleId, Part part) const;
    QString articleContentDir() const { return dir + QStringLiteral("articleContent"); }

    // Stores a part from the downloaded body unless its file exists already.
    // Media and archive are copied as they come; the sentence data is
    // enciphered (always compressed, SHA-1 protected).
    StoreResult storePart(const QString& articleId, Part part, QIODevice* body);
    StoreResult storePart(const QString& articleId, Part part, const QByteArray& body);
    // Why the last storePart was Refused or Failed.
    const QString& errorString() const { return lastError; }

    // All three part files exist.
    bool isComplete(const QString& articleId) const;

    // Where a thumbnail URL's picture is kept: the URL lower-cased, the part
    // after "pool/" split at its first "/" into a folder and a name. Empty when
    // the URL gives no usable folder and name, or could leave the data directory.
    QString thumbnailPath(const QString& url) const;
    // Decodes the body as a picture and saves it there; false when skipped or
    // failed. Pictures larger than maxThumbnailBytes or maxThumbnailSide pixels
    // in either direction are skipped without being decoded.
    bool storeThumbnail(const QString& url, const QByteArray& body);
    static constexpr qint64 maxThumbnailBytes = 16 * 1024 * 1024;
    static constexpr int maxThumbnailSide = 4096;

    // "lrc": the deciphered sentence data; "article": index.html of the freshly
    // unpacked archive; "error" when the file cannot be read or deciphered, for
    // an unknown type or an unusable id. A missing or
    // damaged archive clears the unpacked folder, so no other article shows.
    QString getFileContent(const QString& articleId, const QString& fileType);

    // Removes the article's three part files (thumbnails and the unpacked
    // directory stay).
    void deleteDiskArticleData(const QString& articleId);

    // "error" when the file cannot be opened or does not decipher.
    static QString readEncrypted(const QString& path);
    // The file's text with line ends as "\n"; "error" when it cannot be opened.
    static QString readText(const QString& path);

private:
    QString dir;
    QString lastError;
};

// A media or archive part written as it arrives: into a temporary file beside
// the part file ("<part name>.<random>.part", so a download in progress can be
// seen in the folder) that becomes the part file only when committed, so a part
// file that exists is always whole. What a killed process left behind is
// removed when the same part is written again.
class PartFile {
public:
    explicit PartFile(const QString& path);
    ~PartFile(); // an uncommitted file is dropped

    // False with errorString() when the file cannot be created.
    bool open();
    // False with errorString() on a write error (a full disk, say).
    bool write(const QByteArray& data);
    // Drops what was written, for a body that starts over.
    bool restart();
    qint64 size() const { return written; }
    // Where the part grows; empty while it is not open.
    QString temporaryPath() const;
    // Makes it the part file; false with errorString() when that fails.
    bool commit();
    const QString& errorString() const { return error; }
    // The errno of that failure (ENOSPC for a full disk, say).
    int errorNumber() const { return errorCode; }

private:
    // The file's own error, read before dropping the file replaces it with its own.
    void fail(int code, const QString& what);
    void drop();

    QString path;
    std::unique_ptr<QTemporaryFile> file;
    qint64 written = 0;
    QString error;
    int errorCode = 0;
};

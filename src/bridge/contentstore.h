#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QIODevice;

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
    // Decodes the body as a picture and saves it there; false when skipped or failed.
    bool storeThumbnail(const QString& url, const QByteArray& body);

    // "lrc": the deciphered sentence data ("" when it does not decipher);
    // "article": index.html of the unpacked archive; "error" when the file
    // cannot be read, for an unknown type or an unusable id.
    QString getFileContent(const QString& articleId, const QString& fileType);

    // Removes the article's three part files (thumbnails and the unpacked
    // directory stay).
    void deleteDiskArticleData(const QString& articleId);

    // "error" when the file cannot be opened; "" when it does not decipher.
    static QString readEncrypted(const QString& path);
    // The file's text with line ends as "\n"; "error" when it cannot be opened.
    static QString readText(const QString& path);

private:
    QString dir;
    QString lastError;
};

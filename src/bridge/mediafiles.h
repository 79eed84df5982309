#pragma once

#include "library/librarymodule.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class BridgeContext;

// The learner's own audio and video files as the main page reaches them:
// importing (on a worker thread, behind a progress dialog, so a long file does
// not freeze the window), the library list, progress and removal. Results
// travel as JSON text: an item, or {"error": text} with a text for the
// learner in the pages' language (German, from locale/de.qm).
//
// The work is the library module's (library/librarymodule.h), loaded on the
// first call that needs it. Its database is used from the GUI thread only; the
// worker thread reads just the media file.
class MediaFiles : public QObject {
    Q_OBJECT

public:
    // The context's library module and German texts; the context outlives this.
    explicit MediaFiles(BridgeContext& context, QObject* parent = nullptr);
    ~MediaFiles() override;

    // The item of a local file (path or file: URL): the stored one while the
    // file is unchanged, else read and stored. Never throws, never empty.
    QString import(const QString& path);
    // Asks for a file with the open dialog; "" when cancelled.
    QString choose();
    // choose() and import(); "" when cancelled.
    QString chooseAndImport();
    // Every item without its sentences, as a JSON array.
    QString list();
    // Unknown or malformed ids are refused with a warning and change nothing.
    bool forget(const QString& id);
    bool setProgress(const QString& id, int sentence);
    // New sentence times of a stored item: fitted again ("auto", "original",
    // "offset:<ms>") or one sentence set by the learner. The item, or {"error"}.
    QString resync(const QString& id, const QString& mode);
    QString setSentenceTiming(const QString& id, int index, int startMs, int endMs);

    // A file opened from the desktop (menu, drop, command line): imported and
    // handed to the main page, or kept until the page says it is ready.
    // False when it waits for the page.
    bool open(const QString& path);
    void setPageReady(bool ready);

    // Ids are what mediaItemId() makes: 16 lower-case hex digits.
    static bool isItemId(const QString& id);
    // How sentences are found in sound, from settings.ini (defaults written back).
    static SilenceOptions silenceOptions();

private:
    // The module's library of the data directory; null when the module cannot
    // be loaded (error() then says why, for the learner).
    MediaLibraryStore* library();
    QString error() const;
    // Runs the work on a worker thread behind a progress dialog that can cancel it.
    void runWithProgress(const QString& fileName, const LibraryWork::Work& work);
    void deliver(const QString& json);

    BridgeContext& context;
    std::unique_ptr<MediaLibraryStore> db;
    bool busy = false;
    bool pageReady = false;
    QStringList waiting;
};

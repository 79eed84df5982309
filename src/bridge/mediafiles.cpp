#include "bridge/mediafiles.h"

#include "bridge/bridgecontext.h"
#include "bridge/pagescript.h"
#include "core/appinfo.h"
#include "core/pageprotocol.h"
#include "core/settings.h"
#include "desktop/desktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProgressDialog>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <utility>

using PageScript::Page;

namespace {

// Shown only when an import takes longer than this, so short ones do not flicker.
constexpr int progressDelayMs = 500;

QString json(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString errorJson(const QString& text) {
    return json(mediaErrorJson(text));
}

int number(const QString& text, int fallback, int low, int high) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || value < low || value > high) {
        qWarning("Media import: setting value \"%s\" is not a number from %d to %d; %d is used", qPrintable(text), low,
                 high, fallback);
        return fallback;
    }
    return int(value);
}

QString localPath(const QString& path) {
    const QString file = path.startsWith(QLatin1String("file:")) ? QUrl(path).toLocalFile() : path;
    return file.isEmpty() ? file : QFileInfo(file).absoluteFilePath();
}

} // namespace

MediaFiles::MediaFiles(BridgeContext& context, QObject* parent) : QObject(parent), context(context) {
    context.loadPageTranslation();
}

MediaFiles::~MediaFiles() = default;

bool MediaFiles::isItemId(const QString& id) {
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{16}$"));
    return pattern.match(id).hasMatch();
}

SilenceOptions MediaFiles::silenceOptions() {
    const SilenceSettings stored = SilenceSettings::load();
    SilenceOptions options;
    options.thresholdDb = number(stored.thresholdDb, int(options.thresholdDb), -90, -1);
    options.minPauseMs = number(stored.minPauseMs, options.minPauseMs, 50, 10000);
    options.minSegmentMs = number(stored.minSegmentMs, options.minSegmentMs, 0, 60000);
    return options;
}

MediaLibraryStore* MediaFiles::library() {
    if (!db) {
        LibraryModule* module = context.library.module();
        if (!module)
            return nullptr;
        ensureDataDirectory();
        db = module->openMediaLibrary(dataDirectory());
        if (!db->errorString().isEmpty())
            qWarning("Media library: %s", qPrintable(db->errorString()));
    }
    return db.get();
}

QString MediaFiles::error() const {
    // What is missing is in the log (LibraryLoader); the learner gets what to do.
    return tr("Your own media files cannot be read: a part of the program is missing. Installing the program again "
              "should help.");
}

QString MediaFiles::import(const QString& path) {
    if (busy)
        return errorJson(tr("Another file is being read; try again when it is done."));
    MediaLibraryStore* kept = library();
    if (!kept)
        return errorJson(error());
    const QString file = localPath(path);
    busy = true;
    const QJsonObject item = kept->import(file, silenceOptions(), [this, &file](const LibraryWork::Work& work) {
        runWithProgress(QFileInfo(file).fileName(), work);
    });
    busy = false;
    return json(item);
}

void MediaFiles::runWithProgress(const QString& fileName, const LibraryWork::Work& work) {
    std::atomic<int> percent{0};
    std::atomic<bool> cancelled{false};
    const LibraryWork::Progress progress = [&percent, &cancelled](int value) {
        percent.store(value);
        return !cancelled.load();
    };
    std::unique_ptr<QThread> worker(QThread::create([&work, &progress] { work(progress); }));

    QProgressDialog dialog(tr("正在读取“%1”…").arg(fileName), tr("取消"), 0, 100, Desktop::mainWindow());
    dialog.setWindowTitle(QString::fromLatin1(AppInfo::productName));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setMinimumDuration(progressDelayMs);
    connect(&dialog, &QProgressDialog::canceled, &dialog, [&cancelled] { cancelled.store(true); });
    // Escape rejects the dialog without a canceled().
    connect(&dialog, &QDialog::rejected, &dialog, [&cancelled] { cancelled.store(true); });
    QTimer tick;
    tick.setInterval(100);
    connect(&tick, &QTimer::timeout, &dialog, [&dialog, &percent] { dialog.setValue(qBound(1, percent.load(), 99)); });

    QEventLoop loop;
    connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    tick.start();
    loop.exec();
    if (!worker->isFinished()) {
        // The event loops are ending (the program closes): stop the work.
        cancelled.store(true);
        worker->wait();
    }
    tick.stop();
    dialog.reset();
}

QString MediaFiles::chooseAndImport() {
    const QString chosen = choose();
    return chosen.isEmpty() ? QString() : import(chosen);
}

QString MediaFiles::choose() {
    QStringList patterns;
    // Without the module only "all files": the import then says what is missing.
    if (LibraryModule* module = context.library.module()) {
        for (const QString& suffix : module->audioSuffixes() + module->videoSuffixes())
            patterns << QStringLiteral("*.") + suffix << QStringLiteral("*.") + suffix.toUpper();
    }
    QString filter = tr("所有文件 (*)");
    if (!patterns.isEmpty())
        filter.prepend(tr("音频和视频 (%1)").arg(patterns.join(QLatin1Char(' '))) + QStringLiteral(";;"));
    QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
    QString folder = settings.value(Settings::MediaDirectory).toString();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();

    const QString chosen = Desktop::openFileName(nullptr, tr("打开媒体文件"), folder, filter);
    if (chosen.isEmpty())
        return QString();
    Settings::prepareSettingsFile();
    QSettings(Settings::settingsFilePath(), QSettings::IniFormat)
        .setValue(Settings::MediaDirectory, QFileInfo(localPath(chosen)).absolutePath());
    return chosen;
}

QString MediaFiles::list() {
    // Nothing was ever imported: no need to load the module to say so.
    if (!db && !QFileInfo::exists(QDir(dataDirectory()).filePath(LibraryModule::mediaLibraryFileName())))
        return QStringLiteral("[]");
    MediaLibraryStore* kept = library();
    return kept ? QString::fromUtf8(QJsonDocument(kept->list()).toJson(QJsonDocument::Compact)) : QStringLiteral("[]");
}

bool MediaFiles::forget(const QString& id) {
    if (!isItemId(id)) {
        qWarning("forgetMedia refused the id \"%s\"", qPrintable(id.left(40)));
        return false;
    }
    MediaLibraryStore* kept = library();
    return kept && kept->forget(id);
}

bool MediaFiles::setProgress(const QString& id, int sentence) {
    if (!isItemId(id) || sentence < 0) {
        qWarning("setMediaProgress refused \"%s\", %d", qPrintable(id.left(40)), sentence);
        return false;
    }
    MediaLibraryStore* kept = library();
    return kept && kept->setProgress(id, sentence);
}

QString MediaFiles::resync(const QString& id, const QString& mode) {
    if (!isItemId(id))
        return errorJson(tr("This file is not in the media library."));
    MediaLibraryStore* kept = library();
    return kept ? json(kept->resync(id, mode)) : errorJson(error());
}

QString MediaFiles::setSentenceTiming(const QString& id, int index, int startMs, int endMs) {
    if (!isItemId(id))
        return errorJson(tr("This file is not in the media library."));
    MediaLibraryStore* kept = library();
    return kept ? json(kept->setSentenceTiming(id, index, startMs, endMs)) : errorJson(error());
}

bool MediaFiles::open(const QString& path) {
    const QString item = import(path);
    if (!pageReady) {
        waiting << item;
        return false;
    }
    deliver(item);
    return true;
}

void MediaFiles::setPageReady(bool ready) {
    pageReady = ready;
    if (!ready)
        return;
    const QStringList items = std::exchange(waiting, {});
    for (const QString& item : items)
        deliver(item);
}

void MediaFiles::deliver(const QString& item) {
    if (context.pages.run(Page::Main, PageProtocol::Script::openMediaItem, {item}).toBool())
        return;
    // A page without the section: a failure still reaches the learner.
    const QString error = QJsonDocument::fromJson(item.toUtf8()).object().value(QStringLiteral("error")).toString();
    if (!error.isEmpty())
        Desktop::message(nullptr, QMessageBox::Warning, QString::fromLatin1(AppInfo::productName), error);
    else
        qWarning("The main page did not take an opened media file");
}

#include "library/mediaimporter.h"

#include "library/ffmpeg.h"
#include "library/speechsync.h"
#include "library/subtitlereader.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <numeric>

using namespace Ffmpeg;

namespace {

QString tr(const char* text, int n = -1) {
    return QCoreApplication::translate("MediaImporter", text, nullptr, n);
}

bool isGerman(const QString& tag) {
    static const QStringList names{"de", "deu", "ger", "german", "deutsch"};
    return names.contains(tag) || tag.startsWith(QLatin1String("de-")) || tag.startsWith(QLatin1String("de_"));
}

bool isChinese(const QString& tag) {
    static const QStringList names{"zh", "zho", "chi", "chs", "cht", "chinese"};
    return names.contains(tag) || tag.startsWith(QLatin1String("zh-")) || tag.startsWith(QLatin1String("zh_"));
}

// "de", "zh-CN", "pt_BR", "deu", or a language written out: what may stand between
// the base name and the suffix of a subtitle file.
bool isLanguageTag(const QString& tag) {
    static const QRegularExpression code(QStringLiteral("^[a-z]{2,3}([-_][a-z0-9]{2,8})*$"));
    static const QStringList words{"german", "deutsch", "chinese", "english", "french", "spanish", "italian"};
    return code.match(tag).hasMatch() || words.contains(tag);
}

struct Sidecar {
    QString path;
    QString language; // lower case; empty when the name has no tag
};

struct Sidecars {
    QVector<Sidecar> text;        // in the order to try
    QVector<Sidecar> translation; // in the order to try
};

Sidecars findSidecars(const QFileInfo& media) {
    const QString base = media.completeBaseName() + QLatin1Char('.');
    QVector<Sidecar> german, untagged, chinese, other;
    const QDir dir = media.absoluteDir();
    QStringList names = dir.entryList(QDir::Files | QDir::Hidden);
    // Subtitle kinds in order of preference, then by name.
    const QStringList suffixes = subtitleSuffixes();
    auto rank = [&](const QString& name) { return suffixes.indexOf(QFileInfo(name).suffix().toLower()); };
    std::sort(names.begin(), names.end(),
              [&](const QString& a, const QString& b) { return rank(a) != rank(b) ? rank(a) < rank(b) : a < b; });
    for (const QString& name : names) {
        const QString suffix = QFileInfo(name).suffix().toLower();
        if (!name.startsWith(base) || !suffixes.contains(suffix))
            continue;
        const QString stem = name.left(name.size() - suffix.size()); // with its final dot
        QString tag =
            stem.size() > base.size() ? stem.mid(base.size(), stem.size() - base.size() - 1).toLower() : QString();
        if (!tag.isEmpty() && !isLanguageTag(tag))
            continue; // "name.part2.srt" belongs to another file
        if (tag == media.suffix().toLower())
            tag.clear(); // "name.mkv.srt"
        const Sidecar sidecar{dir.filePath(name), tag};
        if (tag.isEmpty())
            untagged.append(sidecar);
        else if (isGerman(tag))
            german.append(sidecar);
        else if (isChinese(tag))
            chinese.append(sidecar);
        else
            other.append(sidecar);
    }
    return {german + untagged, chinese + other};
}

QString metadata(const AVDictionary* dictionary, const char* key) {
    const AVDictionaryEntry* entry = av_dict_get(dictionary, key, nullptr, 0);
    return entry ? QString::fromUtf8(entry->value).trimmed() : QString();
}

bool hasText(const QVector<SubtitleCue>& cues) {
    return std::any_of(cues.begin(), cues.end(), [](const SubtitleCue& c) { return !c.text.isEmpty(); });
}

} // namespace

QJsonObject MediaImportResult::toJson() const {
    return ok() ? item.toJson() : mediaErrorJson(error);
}

QStringList mediaAudioSuffixes() {
    return {"mp3", "m4a", "aac", "ogg", "opus", "flac", "wav"};
}

QStringList mediaVideoSuffixes() {
    return {"mp4", "mkv", "webm", "mov"};
}

QStringList subtitleSuffixes() {
    return {"srt", "vtt", "ass", "ssa"};
}

QString mediaItemId(const QString& canonicalPath) {
    return QString::fromLatin1(
        QCryptographicHash::hash(canonicalPath.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
}

MediaImportResult importMedia(const QString& path, const MediaImportOptions& options) {
    MediaImportResult result;
    auto fail = [&result](const QString& text) {
        result.error = text;
        result.item = MediaItem();
        return result;
    };
    const QFileInfo info(path);
    const QString name = info.fileName().isEmpty() ? path : info.fileName();
    if (path.isEmpty() || !info.exists())
        return fail(tr("The file \"%1\" does not exist.").arg(name));
    if (!info.isFile())
        return fail(tr("\"%1\" is not a file.").arg(name));
    const QString suffix = info.suffix().toLower();
    if (!mediaAudioSuffixes().contains(suffix) && !mediaVideoSuffixes().contains(suffix))
        return fail(tr("\"%1\" is not a media file that can be practised. Audio: %2; video: %3.")
                        .arg(name, mediaAudioSuffixes().join(QLatin1String(", ")),
                             mediaVideoSuffixes().join(QLatin1String(", "))));
    if (info.size() == 0)
        return fail(tr("\"%1\" is empty.").arg(name));
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return fail(tr("\"%1\" cannot be read: %2").arg(name, file.errorString()));
    }

    MediaItem& item = result.item;
    item.path = info.canonicalFilePath();
    item.id = mediaItemId(item.path);
    item.fileSize = info.size();
    item.fileModified = info.lastModified().toMSecsSinceEpoch();

    Progress progress(options.progress);
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw)
        return fail(tr("Not enough memory to open \"%1\".").arg(name));
    raw->interrupt_callback = progress.interruptCallback();
    int status = avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr);
    FormatPtr format(status >= 0 ? raw : nullptr);
    if (status >= 0)
        status = avformat_find_stream_info(format.get(), nullptr);
    if (progress.cancelled())
        return fail(tr("The import of \"%1\" was cancelled.").arg(name));
    if (status < 0)
        return fail(tr("\"%1\" is not an audio or video file that can be read (%2).").arg(name, errorText(status)));

    bool hasAudio = false;
    bool hasVideo = false;
    QVector<int> subtitleStreams;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        const AVMediaType type = stream->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO)
            hasAudio = true;
        else if (type == AVMEDIA_TYPE_VIDEO && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            hasVideo = true; // a cover picture does not make a video
        else if (isTextSubtitleStream(format.get(), int(i)))
            subtitleStreams.append(int(i));
    }
    if (!hasAudio && !hasVideo)
        return fail(tr("\"%1\" contains no audio or video.").arg(name));
    item.mediaType = hasVideo ? QStringLiteral("video") : QStringLiteral("audio");
    item.title = metadata(format->metadata, "title");
    if (item.title.isEmpty())
        item.title = info.completeBaseName();
    item.duration = format->duration != AV_NOPTS_VALUE && format->duration > 0 ? format->duration / 1000 : 0;
    progress.report(1, 0, 5);

    QVector<MediaSentence> sentences;
    QVector<SubtitleCue> translation;
    bool haveTranslation = false;
    int skipped = 0;

    // Subtitle files beside the media.
    const Sidecars sidecars = findSidecars(info);
    auto leftOut = [&](const QString& file, const QString& why) {
        item.warnings << tr("%1 was left out: %2.").arg(QFileInfo(file).fileName(), why);
    };
    auto notSpeech = [&](const QString& file, int lines) {
        if (lines > 0)
            item.warnings << tr("%n line(s) of karaoke, signs or drawings in %1 left out.", lines)
                                 .arg(QFileInfo(file).fileName());
    };
    for (const Sidecar& sidecar : sidecars.text) {
        const SubtitleTrack track = readSubtitleFile(sidecar.path);
        int trackSkipped = track.skipped;
        const QVector<MediaSentence> found =
            track.error.isEmpty() ? SubtitleText::sentencesFromCues(track.cues, item.duration, &trackSkipped)
                                  : QVector<MediaSentence>();
        if (found.isEmpty()) {
            leftOut(sidecar.path, track.error.isEmpty() ? tr("it has no readable cues") : track.error);
            continue;
        }
        sentences = found;
        skipped += trackSkipped;
        notSpeech(sidecar.path, track.leftOut);
        item.sentenceSource = QStringLiteral("sidecar");
        break;
    }
    for (const Sidecar& sidecar : sidecars.translation) {
        const SubtitleTrack track = readSubtitleFile(sidecar.path);
        if (!track.error.isEmpty() || !hasText(track.cues)) {
            leftOut(sidecar.path, track.error.isEmpty() ? tr("it has no readable cues") : track.error);
            continue;
        }
        translation = track.cues;
        skipped += track.skipped;
        haveTranslation = true;
        break;
    }
    progress.report(1, 5, 10);

    // Text subtitle streams inside the media.
    if (!subtitleStreams.isEmpty() && (sentences.isEmpty() || !haveTranslation)) {
        QVector<SubtitleTrack> tracks =
            readEmbeddedSubtitles(format.get(), subtitleStreams, progress, 10, options.fitToSpeech ? 50 : 95);
        if (progress.cancelled())
            return fail(tr("The import of \"%1\" was cancelled.").arg(name));
        QVector<int> order(tracks.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return isGerman(tracks.at(a).language) && !isGerman(tracks.at(b).language);
        });
        int textTrack = -1;
        if (sentences.isEmpty()) {
            for (const int t : order) {
                int trackSkipped = tracks.at(t).skipped;
                const QVector<MediaSentence> found =
                    SubtitleText::sentencesFromCues(tracks.at(t).cues, item.duration, &trackSkipped);
                if (!found.isEmpty()) {
                    sentences = found;
                    skipped += trackSkipped;
                    notSpeech(path, tracks.at(t).leftOut);
                    textTrack = t;
                    item.sentenceSource = QStringLiteral("embedded");
                    break;
                }
            }
        }
        if (!haveTranslation) {
            std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
                return isChinese(tracks.at(a).language) && !isChinese(tracks.at(b).language);
            });
            for (const int t : order) {
                if (t == textTrack || isGerman(tracks.at(t).language) || !hasText(tracks.at(t).cues))
                    continue;
                translation = tracks.at(t).cues;
                skipped += tracks.at(t).skipped;
                haveTranslation = true;
                break;
            }
        }
    }

    // Pauses in the sound; the subtitles' times are fitted to the same measure.
    SilenceSplit split;
    const bool subtitled = !sentences.isEmpty();
    if (hasAudio && (!subtitled || options.fitToSpeech)) {
        format.reset(); // the splitter reads the file from its start
        split = splitAtSilence(path, options.silence, progress, subtitled && !subtitleStreams.isEmpty() ? 50 : 10, 95,
                               options.fitToSpeech);
        if (progress.cancelled())
            return fail(tr("The import of \"%1\" was cancelled.").arg(name));
    }
    if (!subtitled) {
        if (!hasAudio)
            return fail(tr("\"%1\" has neither subtitles nor sound to find sentences in.").arg(name));
        if (!split.error.isEmpty())
            return fail(tr("The sound of \"%1\" cannot be read: %2.").arg(name, split.error));
        if (split.duration > 0)
            item.duration = split.duration;
        sentences = sentencesFromSegments(split.segments, options.silence);
        if (sentences.isEmpty()) {
            item.warnings << tr("No speech was heard; the whole file is one section.");
            sentences.append({0, item.duration, QString(), QString()});
        }
        item.sentenceSource = QStringLiteral("silence");
    }
    // Cues past the media's end would be practised in silence: those that start
    // after it go, those that run past it end with it (once fitted: a late
    // file's last cue keeps its true length for the fit).
    if (item.duration > 0) {
        const auto after = std::remove_if(sentences.begin(), sentences.end(),
                                          [&item](const MediaSentence& s) { return s.start >= item.duration; });
        const int dropped = int(sentences.end() - after);
        sentences.erase(after, sentences.end());
        if (sentences.isEmpty())
            return fail(tr("The subtitles of \"%1\" all start after the end of its media.").arg(name));
        if (dropped > 0)
            item.warnings << tr("%1 subtitles after the end of the media were left out.").arg(dropped);
    }
    // Each sentence is a row on the page and in the library; a file with more is not one to practise.
    if (sentences.size() > maxMediaSentences)
        return fail(tr("\"%1\" has %2 sentences; at most %3 can be practised in one file.")
                        .arg(name)
                        .arg(sentences.size())
                        .arg(maxMediaSentences));
    if (haveTranslation)
        SubtitleText::attachTranslations(sentences, translation);
    if (item.duration <= 0)
        item.duration = sentences.last().end;
    item.sentences = std::move(sentences);
    if (options.fitToSpeech && split.error.isEmpty() && !split.levels.isEmpty()) {
        item.speech = SpeechSync::speechActivity(split.levels);
        SpeechSync::retime(item, QStringLiteral("auto"));
    }
    for (MediaSentence& s : item.sentences)
        s.end = qMin(s.end, item.duration);
    item.skippedCues = skipped;
    progress.report(1, 95, 100);
    return result;
}

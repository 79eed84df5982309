#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

class MediaLibrary;

// One shadowing attempt: the learner's recording of a sentence and its score.
struct ShadowingAttempt {
    QString id;    // 16 lower-case hex digits
    QString media; // the practised media, whatever its URL's signature (ShadowingSentence::mediaKey)
    int sentence = 0;
    QString source; // what was played, to decode the original again
    qint64 startMs = 0;
    qint64 endMs = 0;
    qint64 recorded = 0; // ms since the epoch
    QString recording;   // file name in the recordings folder
    qint64 durationMs = 0;
    int score = 0;
    int timing = 0;
    int rhythm = 0;
    int melody = 0;
    double loudness = 0;         // LUFS of the recording
    double originalLoudness = 0; // and of the original
    QJsonObject result;          // what the page was shown

    // {"id","index","recorded","score","timing","rhythm","melody","durationMs"}
    QJsonObject summary() const;
};

// The last attempts of each sentence, in the media library's database (its own
// table). Uses the library's connection: the thread that made the library only.
class ShadowingAttempts {
public:
    // Attempts kept per sentence; older ones go, with their recordings.
    static constexpr int keptPerSentence = 5;

    explicit ShadowingAttempts(MediaLibrary& library);

    static QString newId();
    static bool isId(const QString& id);

    // Stores the attempt; the recording file names of the attempts it pushed
    // out through `dropped` (to delete). False when it could not be stored.
    bool add(const ShadowingAttempt& attempt, QStringList* dropped);
    // Newest first.
    QJsonArray list(const QString& media, int sentence);
    std::optional<ShadowingAttempt> attempt(const QString& id);
    // Removes it; its recording's file name through `recording`.
    bool remove(const QString& id, QString* recording);

private:
    MediaLibrary& library;
};

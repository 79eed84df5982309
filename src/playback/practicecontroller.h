#pragma once

#include "playback/practiceplayer.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class PracticePage;

// Sentence tracking and the practice modes: follows the player's whole-second
// position against the sentence start times, tells the page which sentence is
// current, and acts at sentence and media ends (loop a sentence, replay a
// dictation sentence, stop for fill-in-the-word). The bridge's practice slots
// delegate here; the player is anything that implements PracticePlayer.
class PracticeController : public QObject {
    Q_OBJECT

public:
    explicit PracticeController(QObject* parent = nullptr);
    ~PracticeController() override;

    // Collaborators, set by the owner.
    // Creates the player on the first initPlay (null when it cannot be created).
    std::function<std::unique_ptr<PracticePlayer>()> createPlayer;
    // Resolves an online source (one redirect step) and calls back with the URL to play.
    std::function<void(const QString& url, std::function<void(const QString&)> done)> resolveOnline;
    // Places the video surface over the page's video frame.
    std::function<void()> placeVideo;

    // Where the script calls go; without one they are dropped.
    void setPage(PracticePage* target) { pageTarget = target; }
    PracticePlayer* player() const { return playManager.get(); }

    void initPlay(const QString& src, const QString& type, const QList<int>& startTime, const QString& mediaType);
    void positionChanged(qint64 position);
    void durationChanged(qint64 value) { duration = value; }
    void mediaStatusChanged(int status);
    void play(qint64 position);
    void pause();
    void cancelPlay();
    void resetMedia();
    void fillwordSuccessAction();
    void setPlayIndex(int index);

    void setState(const QString& stateName, const QString& state);
    void setVolume(int volume);
    void loadPosition(int position);
    void setDictationIndex(int index);
    void setFillwordIndex(int index);

    // Start of a sentence in seconds; -1 means the current one, an index outside
    // the list the start of the media.
    double sentenceStartSeconds(int index = -1) const;

    bool inDictationGap() const { return dictationGap.isActive(); }

    QString playState;
    QString mode;
    QString repeatState;
    QString playRepeatTimes;
    QString loadPositionState;
    QString clickState;
    qint64 duration = 0;
    int currentIndex = 0;
    int repeatCount = 0;
    bool mediaEnded = false;
    QList<int> startTimes;
    bool isVideo = false;

    // The pause between two plays of a dictation sentence.
    static constexpr int dictationGapMs = 1500;

private:
    void page(const QString& snippet);
    void paragraphPage(const QString& snippet);
    void track(qint64 ms);
    void sentenceEnd(qint64 ms);
    void replayDictationSentence();
    // Start time in milliseconds of a sentence, 0 for an index outside the list.
    qint64 startMsAt(int index) const;

    std::unique_ptr<PracticePlayer> playManager;
    PracticePage* pageTarget = nullptr;
    QTimer dictationGap;
};

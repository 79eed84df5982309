#pragma once

#include "playback/practiceplayer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class MpvWidget;
class QLabel;

namespace ObDataBase {

// The one object through which practice plays media: owns the video widget
// (created on first use, with two subtitle lines over the picture), reports
// whole-second positions and lengths for the page, the exact position, speed
// and pause state for the sentence timing, and the end of the media.
class PlayManager : public QObject, public PracticePlayer {
    Q_OBJECT

public:
    enum MediaStatus { LoadingMedia = 0, LoadedMedia = 1, EndOfMedia = 4 };
    Q_ENUM(MediaStatus)

    // The parent is ignored: the creator owns and deletes the manager.
    explicit PlayManager(QObject* parent);
    ~PlayManager() override;

    QWidget* playerWidget() override;
    void loadMedia(const QString& source) override;
    void play() override;
    void pause();
    void setPaused(bool paused) override;
    bool isPaused() const override { return paused; }
    double duration() const;
    double position() const;
    // The last exact position reported (seconds).
    double exactPosition() const { return exactSeconds; }
    double speed() override;
    void setSpeed(double speed) override;
    int volume() override;
    void setVolume(int volume) override;
    void seekTo(double seconds);
    void seekToIfNonNegative(double seconds) override;
    void setSentenceSubtitle(const QString& text) override;
    void setTranslationSubtitle(const QString& text) override;
    void setSubtitlesVisible(bool visible) override;

    const QString& currentSource() const { return source; }
    MpvWidget* videoWidget() const { return widget; }

signals:
    void mediaStatusChanged(ObDataBase::PlayManager::MediaStatus status);
    void durationChanged(qlonglong duration);
    void positionChanged(qlonglong position);
    // The exact position in seconds, on every change the player reports; none
    // between a seek and the player's restart at its target.
    void exactPositionChanged(double seconds);
    void speedChanged(double speed);
    void pausedChanged(bool paused);

private slots:
    void onRawMpvEvent(int eventLevel);
    void onPausedChanged(bool paused);
    void onDurationChanged(qlonglong duration);
    void onPositionChanged(qlonglong position);
    void onExactPositionChanged(double seconds);
    void onEofReachedChanged(bool reached);

private:
    void checkEnd();
    void settle(double landed);

    MpvWidget* widget = nullptr;
    QLabel* sentenceLabel = nullptr;
    QLabel* translationLabel = nullptr;
    QString source;
    bool paused = false;
    // From a seek to the player's playback restart: reports until then may be from before it.
    bool seekPending = false;
    // A seek the player never completes must not silence the reports for good.
    QTimer seekWatch;
    static constexpr int seekTimeoutMs = 2000;
    static constexpr double landingTolerance = 0.25; // seconds; a video seek lands on a frame
    bool seekable = true;
    // From loadMedia to the file-loaded event; a seek meanwhile waits in pendingSeek.
    bool loading = false;
    double pendingSeek = -1;
    double seekTarget = 0;
    double frameSeconds = 0; // of the video; 0 for audio
    // Paused after a seek: the player stands at the target whatever it reports.
    bool holdAtTarget = false;
    // Just after a seek has landed: a report the player made before the landing
    // can still be on its way (when the restart event came from an earlier seek
    // and the player had already moved on to the latest); such reports are
    // dropped until one fits the landing.
    bool settling = false;
    double landedSeconds = 0;
    QElapsedTimer landedClock;
    double rate = 1.0;
    double exactSeconds = 0;
    bool eofReached = false;
    bool endReported = false;
};

// Undo the page's quote encoding ("======" for ', ";;;;;;" for ") and strip markup.
QString decodeSubtitleText(QString text);
QString stripMarkup(QString text);

} // namespace ObDataBase

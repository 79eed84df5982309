#pragma once

#include "playback/playertimeline.h"
#include "playback/practiceplayer.h"

#include <QObject>
#include <QString>

#include <optional>

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
    PlayerTimeline* timeline() override { return &line; }
    void loadMedia(const QString& source) override;
    void play();
    void pause();
    void setPaused(bool paused);
    bool isPaused() const { return line.isPaused(); }
    double duration() const;
    double position() const;
    // The last exact position reported (seconds).
    double exactPosition() const { return exactSeconds; }
    double speed() const { return line.speed(); }
    void setSpeed(double speed) { line.setSpeed(speed); }
    int volume() override;
    void setVolume(int volume) override;
    void seekTo(double seconds);
    void setSentenceSubtitle(const QString& text) override;
    void setTranslationSubtitle(const QString& text) override;
    void setSubtitlesVisible(bool visible) override;
    void setPlayerSubtitlesVisible(bool visible) override;

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
    void onPositionChanged(qlonglong position);

private:
    void showSubtitleLines();

    // The timeline's commands, to libmpv through the widget.
    struct Engine : TimelineEngine {
        explicit Engine(PlayManager* owner) : owner(owner) {}
        void seekExact(double seconds) override;
        void setPaused(bool paused) override;
        void setSpeed(double speed) override;
        void setStop(std::optional<double> seconds) override;
        std::optional<double> standing() override;
        PlayManager* owner;
    };

    MpvWidget* widget = nullptr;
    QLabel* sentenceLabel = nullptr;
    QLabel* translationLabel = nullptr;
    bool subtitlesShown = false;
    QString source;
    Engine engine{this};
    PlayerTimeline line{&engine};
    double exactSeconds = 0;
    void applyPitchFilter();
    struct PitchFilter {
        QString name;        // the audio filter that keeps the pitch, none at normal speed
        double seekLead = 0; // s past a seek's target, where the filter reaches back
    } pitch;
    double playingSpeed = 1.0;
    void notePicture(const QVariantList& tracks);
    bool movingPicture = false; // a video track other than cover art plays
    double frameRate = 0;       // of that track, 0 when unknown
    // How far the sound leads the picture (s), from the last seek.
    void setSoundAhead(double seconds);
    double soundAhead = 0;
};

// Undo the page's quote encoding ("======" for ', ";;;;;;" for ") and strip markup.
QString decodeSubtitleText(QString text);
QString stripMarkup(QString text);

} // namespace ObDataBase

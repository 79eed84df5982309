#pragma once

#include "playback/practiceplayer.h"

#include <QObject>
#include <QString>

class MpvWidget;
class QLabel;

namespace ObDataBase {

// The one object through which practice plays media: owns the video widget
// (created on first use, with two subtitle lines over the picture), reports
// whole-second positions and lengths, and detects the end of the media.
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

private slots:
    void onRawMpvEvent(int eventLevel);
    void onPausedChanged(bool paused);
    void onDurationChanged(qlonglong duration);
    void onPositionChanged(qlonglong position);

private:
    MpvWidget* widget = nullptr;
    QLabel* sentenceLabel = nullptr;
    QLabel* translationLabel = nullptr;
    QString source;
    bool paused = false;
    bool seekPending = false;
};

// Undo the page's quote encoding ("======" for ', ";;;;;;" for ") and strip markup.
QString decodeSubtitleText(QString text);
QString stripMarkup(QString text);

} // namespace ObDataBase

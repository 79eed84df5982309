#pragma once

#include <QString>

class QWidget;

// What the practice controller needs of the media player. The playback manager
// implements it over the video widget; tests use a fake.
class PracticePlayer {
public:
    virtual ~PracticePlayer() = default;

    virtual QWidget* playerWidget() = 0;
    virtual void loadMedia(const QString& source) = 0;
    virtual void play() = 0;
    virtual void setPaused(bool paused) = 0;
    virtual bool isPaused() const = 0;
    virtual void seekToIfNonNegative(double seconds) = 0;
    virtual double speed() = 0;
    virtual void setSpeed(double speed) = 0;
    virtual int volume() = 0;
    virtual void setVolume(int volume) = 0;
    virtual void setSentenceSubtitle(const QString& text) = 0;
    virtual void setTranslationSubtitle(const QString& text) = 0;
    virtual void setSubtitlesVisible(bool visible) = 0;
};

// Media status values as the playback manager reports them (2 and 3 are unused).
namespace MediaStatusCode {
inline constexpr int LoadingMedia = 0;
inline constexpr int LoadedMedia = 1;
inline constexpr int EndOfMedia = 4;
} // namespace MediaStatusCode

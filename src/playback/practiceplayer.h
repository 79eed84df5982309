#pragma once

#include <QString>

class PlayerTimeline;
class QWidget;

// What the practice controller needs of the media player. The playback manager
// implements it over the video widget; tests use a fake. Playing, pausing,
// seeking and the speed go through its timeline, which also says where it stands.
class PracticePlayer {
public:
    virtual ~PracticePlayer() = default;

    virtual QWidget* playerWidget() = 0;
    virtual PlayerTimeline* timeline() = 0;
    virtual void loadMedia(const QString& source) = 0;
    virtual int volume() = 0;
    virtual void setVolume(int volume) = 0;
    virtual void setSentenceSubtitle(const QString& text) = 0;
    virtual void setTranslationSubtitle(const QString& text) = 0;
    // The program's own subtitle lines over the picture (in full screen).
    virtual void setSubtitlesVisible(bool visible) = 0;
    // The player's own subtitles (a stream of the file, a file beside it).
    virtual void setPlayerSubtitlesVisible(bool visible) = 0;
};

// Media status values as the playback manager reports them (2 and 3 are unused).
namespace MediaStatusCode {
inline constexpr int LoadingMedia = 0;
inline constexpr int LoadedMedia = 1;
inline constexpr int EndOfMedia = 4;
} // namespace MediaStatusCode

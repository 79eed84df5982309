#pragma once

// What the video surface's keys and menu ask of the bridge: the paths the
// page's own buttons take, so that the page stays in step.
class VideoCommands {
public:
    virtual ~VideoCommands() = default;

    virtual void jumpToNextSentence() = 0;
    virtual void jumpToPreviousSentence() = 0;
    // Asks the page to play (true) or to pause (false), as its play button does.
    virtual void askPageToPlay(bool play) = 0;
    virtual void setFullScreen(bool on) = 0;
    virtual bool isFullScreen() const = 0;
};

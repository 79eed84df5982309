#pragma once

#include "bridge/pagescript.h"

#include <QPointer>
#include <QWebFrame>

#include <memory>

class PracticeController;
class ShellWindow;
class VideoCommands;
class VideoEventFilter;
class QWidget;

// The video surface of the main page: the player's widget lies in the shell
// window's central area over the page's video frame (or over the whole window in
// full screen), can be raised above or lowered below the page, and has the
// application-wide keys and menu of the VideoEventFilter. Without a shell window
// (the other pages' bridges) none of this happens.
class VideoSurface {
public:
    VideoSurface(PracticeController* practice, const PageFrames& pages);
    ~VideoSurface();

    void setShell(ShellWindow* window) { shell = window; }
    ShellWindow* shellWindow() const { return shell; }
    // The page that answers "media.showVideoFrame();".
    void setPageFrame(QWebFrame* frame) { pageFrame = frame; }

    // The player's widget has just been made: into the shell's central area, and
    // the keys installed on the application.
    void adopt(QWidget* widget, VideoCommands* commands);
    QObject* keyFilter() const;

    // Places the widget: over the whole window in full screen, otherwise over
    // the rectangle the page reports for its video frame.
    void place();
    // Places it and has the shell lay out its central area again.
    void placeAndRelayout();
    void raise();
    void lower();

    // Enters full screen when the window is not, otherwise leaves it.
    void toggleFullScreen();
    void enterFullScreen();
    // Hides the subtitle lines; the window leaves full screen if it is in it
    // (and is otherwise left as it is, maximised or not).
    void exitFullScreen();

private:
    QWidget* visibleWidget() const;

    PracticeController* practice;
    const PageFrames& pages;
    ShellWindow* shell = nullptr;
    QPointer<QWebFrame> pageFrame;
    std::unique_ptr<VideoEventFilter> filter;
};

#pragma once

#include <QRect>
#include <QString>

class QWidget;

// What the main page's bridge asks of the window around it. The main window
// implements it and hands it to its own bridge only; the other pages' bridges
// have none, so their calls of this kind are ignored.
class ShellWindow {
public:
    virtual ~ShellWindow() = default;

    virtual void showPreferences() = 0;
    // The article the Print command prints, and whether it may.
    virtual void setHtmlPage(const QString& html, const QString& title) = 0;
    virtual void setPrintEnabled(bool flag) = 0;
    // The preferences' translation option: selectable only for "true"; its stored state.
    virtual void setTranslationSelectable(const QString& flag) = 0;
    virtual void setTranslationState(const QString& state) = 0;
    virtual void setParagraphWindowVisible(bool visible) = 0;

    // The video surface lies in the central area next to the page's view;
    // relayoutVideoSurface asks for a layout pass, which places it again.
    virtual void addVideoSurface(QWidget* surface) = 0;
    virtual void relayoutVideoSurface() = 0;
    // Full screen for the video: the window covers its screen and hides its
    // menu bar (on), or comes back as a normal window with its menu bar (off).
    virtual void setVideoFullScreen(bool on) = 0;
    virtual bool isVideoFullScreen() const = 0;
    // Where the video goes in full screen, in the central area's coordinates.
    virtual QRect videoFullScreenRect() const = 0;
};

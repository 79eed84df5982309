#include "bridge/videosurface.h"

#include "bridge/pagescript.h"
#include "bridge/shellwindow.h"
#include "core/pageprotocol.h"
#include "playback/practicecontroller.h"
#include "playback/videoeventfilter.h"

#include <QCoreApplication>
#include <QRectF>
#include <QStringList>
#include <QWidget>

VideoSurface::VideoSurface(PracticeController* practice, const PageFrames& pages) : practice(practice), pages(pages) {}

VideoSurface::~VideoSurface() {
    if (filter)
        QCoreApplication::instance()->removeEventFilter(filter.get());
}

void VideoSurface::adopt(QWidget* widget, VideoCommands* commands) {
    if (shell)
        shell->addVideoSurface(widget);
    filter = std::make_unique<VideoEventFilter>(practice, commands);
    QCoreApplication::instance()->installEventFilter(filter.get());
}

QObject* VideoSurface::keyFilter() const {
    return filter.get();
}

QWidget* VideoSurface::visibleWidget() const {
    PracticePlayer* player = practice->player();
    QWidget* widget = player ? player->playerWidget() : nullptr;
    return widget && widget->isVisible() ? widget : nullptr;
}

void VideoSurface::place() {
    QWidget* widget = practice->isVideo() ? visibleWidget() : nullptr;
    if (!widget || !shell)
        return;
    if (shell->isVideoFullScreen()) {
        widget->setGeometry(shell->videoFullScreenRect());
        return;
    }
    const QStringList parts =
        pages.evaluate(pageFrame.data(), PageProtocol::Script::showVideoFrame).toString().split(QLatin1Char(','));
    if (parts.size() != 4)
        return;
    // Exactly over the frame; a frame on fractional pixels is covered whole.
    const QRectF frame(parts.at(0).toDouble(), parts.at(1).toDouble(), parts.at(2).toDouble(), parts.at(3).toDouble());
    widget->setGeometry(frame.toAlignedRect());
}

void VideoSurface::placeAndRelayout() {
    place();
    if (shell)
        shell->relayoutVideoSurface();
}

void VideoSurface::raise() {
    if (PracticePlayer* player = practice->player())
        player->playerWidget()->raise();
}

void VideoSurface::lower() {
    if (PracticePlayer* player = practice->player())
        player->playerWidget()->lower();
}

void VideoSurface::toggleFullScreen() {
    if (!shell || !practice->player())
        return;
    if (!shell->isVideoFullScreen()) {
        enterFullScreen();
    } else {
        exitFullScreen();
        place();
    }
}

void VideoSurface::enterFullScreen() {
    PracticePlayer* player = practice->player();
    if (!shell || !player)
        return;
    shell->setVideoFullScreen(true);
    player->setSubtitlesVisible(true);
    place();
}

void VideoSurface::exitFullScreen() {
    PracticePlayer* player = practice->player();
    if (!shell || !player)
        return;
    if (shell->isVideoFullScreen())
        shell->setVideoFullScreen(false);
    player->setSubtitlesVisible(false);
}

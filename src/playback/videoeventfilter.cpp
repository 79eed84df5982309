#include "playback/videoeventfilter.h"

#include "playback/playertimeline.h"
#include "playback/practicecontroller.h"
#include "playback/videocommands.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {
constexpr int volumeStep = 5; // on the player's 0..100 scale
}

VideoEventFilter::VideoEventFilter(PracticeController* practice, VideoCommands* commands)
    : practice(practice), commands(commands) {}

PracticePlayer* VideoEventFilter::player() const {
    return practice->player();
}

VideoEventFilter::~VideoEventFilter() {
    delete menu;
}

double VideoEventFilter::steppedSpeed(double speed, bool up) {
    // On the page's steps of 0.1, whatever the speed was.
    const double tenths = up ? std::floor(speed * 10 + 1e-6) + 1 : std::ceil(speed * 10 - 1e-6) - 1;
    return std::clamp(tenths / 10, PracticeController::slowest, PracticeController::fastest);
}

int VideoEventFilter::steppedVolume(int volume, bool up) {
    return std::clamp(volume + (up ? volumeStep : -volumeStep), 0, 100);
}

bool VideoEventFilter::videoVisible() const {
    PracticePlayer* p = player();
    return p && p->playerWidget() && p->playerWidget()->isVisible();
}

bool VideoEventFilter::firstSight(QObject* receiver, const QKeyEvent* key) {
    if (!receiver->isWidgetType())
        return false; // the window's turn; its focus widget comes next
    auto* widget = static_cast<QWidget*>(receiver);
    const bool passedUp = key == lastKey && key->timestamp() == lastKeyTime && lastReceiver && widget != lastReceiver &&
                          widget->isAncestorOf(lastReceiver);
    lastKey = key;
    lastKeyTime = key->timestamp();
    lastReceiver = widget;
    return !passedUp;
}

bool VideoEventFilter::onVideo(QObject* watched) const {
    PracticePlayer* p = player();
    return p && watched == p->playerWidget();
}

bool VideoEventFilter::typing() {
    if (QApplication::activeModalWidget())
        return true;
    // A web view sets the attribute when an editable element of its page takes
    // the focus, but keeps it when that element is removed; the text around the
    // cursor is there only while a text field really has the focus.
    QWidget* focus = QApplication::focusWidget();
    return focus && focus->testAttribute(Qt::WA_InputMethodEnabled) &&
           focus->inputMethodQuery(Qt::ImSurroundingText).isValid();
}

bool VideoEventFilter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        // On the video it toggles full screen; in full screen (where the video
        // covers the window) it leaves it. Elsewhere it belongs to its target.
        if (commands->isFullScreen()) {
            commands->setFullScreen(false);
            return true;
        }
        if (onVideo(watched) && videoVisible()) {
            commands->setFullScreen(true);
            return true;
        }
        return false;
    case QEvent::ContextMenu:
        // The video surface's own menu; every other widget keeps its own.
        if (onVideo(watched))
            showMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
        return false;
    case QEvent::KeyPress:
        break;
    default:
        return false;
    }

    auto* key = static_cast<QKeyEvent*>(event);
    if (!firstSight(watched, key) || typing())
        return false;
    switch (key->key()) {
    case Qt::Key_Left:
        commands->jumpToPreviousSentence();
        return true;
    case Qt::Key_Right:
        commands->jumpToNextSentence();
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down: {
        const bool up = key->key() == Qt::Key_Up;
        // Faster or slower for audio and video alike, once something plays.
        if (key->modifiers() == Qt::ControlModifier && player()) {
            practice->setSpeed(steppedSpeed(practice->speed(), up));
            return true;
        }
        if (!videoVisible())
            return false;
        const int volume = steppedVolume(player()->volume(), up);
        player()->setVolume(volume);
        qDebug("vol = %.3f", double(volume));
        return false;
    }
    case Qt::Key_Space:
        // The page's own play/pause path, so that its buttons and the play state
        // follow; taken, so that a focused page button is not pressed as well.
        if (!player())
            return false;
        pause();
        return true;
    case Qt::Key_Escape:
        if (videoVisible() && commands->isFullScreen())
            commands->setFullScreen(false);
        return false;
    case Qt::Key_T:
        if (QWidget* window = QApplication::activeWindow()) {
            window->setWindowFlags(window->window()->windowFlags() ^ Qt::WindowStaysOnTopHint);
            window->show();
        }
        return false;
    default:
        return false;
    }
}

void VideoEventFilter::pause() {
    commands->askPageToPlay(player() && player()->timeline()->isPaused());
}

void VideoEventFilter::toggleFullScreen() {
    commands->setFullScreen(false);
}

void VideoEventFilter::enterFullScreen() {
    commands->setFullScreen(true);
}

void VideoEventFilter::toggleSubtitle() {}

void VideoEventFilter::showMenu(QPoint p) {
    if (!menu) {
        menu = new QMenu;
        fullScreenAction = menu->addAction(tr("全屏显示"), this, &VideoEventFilter::enterFullScreen);
        exitFullScreenAction = menu->addAction(tr("退出全屏 (ESC)"), this, &VideoEventFilter::toggleFullScreen);
        menu->addAction(tr("播放 / 暂停 (Space)"), this, &VideoEventFilter::pause);
        menu->addSeparator();
        menu->addAction(tr("上一句 (←)"), this, &VideoEventFilter::preLine);
        menu->addAction(tr("下一句 (→)"), this, &VideoEventFilter::nextLine);
        for (QAction* action : menu->actions())
            action->setShortcut(QKeySequence());
    }
    // Only over the visible video: elsewhere the page's own menu is off anyway.
    if (videoVisible())
        menu->popup(p);
}

void VideoEventFilter::nextLine() {
    commands->jumpToNextSentence();
}

void VideoEventFilter::preLine() {
    commands->jumpToPreviousSentence();
}

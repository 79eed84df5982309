#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QWidget>

class QAction;
class QMenu;
class PracticeController;
class PracticePlayer;
class VideoCommands;

// Application-wide keys and context menu of the video surface: sentence jumps,
// play/pause, speed (audio too), volume, full screen and stay-on-top. Speed goes
// to the practice controller, volume to its player; everything else takes the
// page's own path through the commands.
class VideoEventFilter : public QObject {
    Q_OBJECT

public:
    VideoEventFilter(PracticeController* practice, VideoCommands* commands);
    ~VideoEventFilter() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

    // Speed after one Ctrl+Up (up) or Ctrl+Down step from `speed`: the next tenth, within 0.5 .. 2.0.
    static double steppedSpeed(double speed, bool up);
    // Volume (0..100) after one Up or Down step.
    static int steppedVolume(int volume, bool up);

    QMenu* contextMenu() const { return menu; }

public slots:
    void pause();
    void toggleFullScreen();
    void enterFullScreen();
    void toggleSubtitle();
    void showMenu(QPoint p);
    void nextLine();
    void preLine();

private:
    bool videoVisible() const;
    // The event is for the video surface itself.
    bool onVideo(QObject* watched) const;
    // True once per key press. A key from the window system comes by first for
    // its window (not a widget), then for the focus widget; a key that nobody
    // accepts then goes up to each parent widget in turn, as the same event. It
    // counts at the first widget that receives it.
    bool firstSight(QObject* receiver, const class QKeyEvent* key);
    // The user is typing into a text field (a page input or a line edit), or
    // answering a modal dialog: the player's keys are theirs then.
    static bool typing();

    const QEvent* lastKey = nullptr;
    quint64 lastKeyTime = 0;
    QPointer<QWidget> lastReceiver;

    // The practice player (it exists once playback has started).
    PracticePlayer* player() const;

    PracticeController* practice;
    VideoCommands* commands;
    QMenu* menu = nullptr;
    QAction* fullScreenAction = nullptr;
    QAction* exitFullScreenAction = nullptr;
};

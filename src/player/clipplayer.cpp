#include "player/clipplayer.h"

#include "player/mpvcontroller.h"

#include <QPointer>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <exception>

ClipPlayer::ClipPlayer(QObject* parent) : QObject(parent) {}

ClipPlayer::~ClipPlayer() {
    if (!worker)
        return;
    // The core is terminated on the worker thread as it finishes.
    QPointer<MpvController> controller = ctrl;
    worker->quit();
    worker->wait();
    delete controller.data();
    delete worker;
}

bool ClipPlayer::start() {
    if (ctrl)
        return true;
    worker = new QThread;
    worker->start(QThread::InheritPriority);
    ctrl = new MpvController;
    ctrl->moveToThread(worker);
    QString failure;
    QMetaObject::invokeMethod(
        ctrl,
        [&failure, this] {
            try {
                ctrl->create(false, true);
                ctrl->setPropertyVariant(QStringLiteral("idle"), QStringLiteral("yes"));
                ctrl->setPropertyVariant(QStringLiteral("keep-open"), QStringLiteral("no"));
            } catch (const std::exception& e) {
                failure = QString::fromUtf8(e.what());
            }
        },
        Qt::BlockingQueuedConnection);
    if (!failure.isNull()) {
        worker->quit();
        worker->wait();
        delete ctrl;
        delete worker;
        ctrl = nullptr;
        worker = nullptr;
        error = failure;
        return false;
    }
    connect(worker, &QThread::finished, ctrl, &QObject::deleteLater);
    return true;
}

bool ClipPlayer::play(const QString& path, double speed) {
    if (!start())
        return false;
    const double rate = std::clamp(speed > 0 ? speed : 1.0, 0.5, 2.0);
    QMetaObject::invokeMethod(
        ctrl,
        [this, path, rate] {
            ctrl->setPropertyVariant(QStringLiteral("speed"), rate);
            ctrl->command(QVariantList{QStringLiteral("loadfile"), path, QStringLiteral("replace")});
            ctrl->setPropertyVariant(QStringLiteral("pause"), false);
        },
        Qt::QueuedConnection);
    return true;
}

void ClipPlayer::stop() {
    if (ctrl)
        QMetaObject::invokeMethod(
            ctrl, [this] { ctrl->command(QVariantList{QStringLiteral("stop")}); }, Qt::QueuedConnection);
}

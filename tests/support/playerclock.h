#pragma once

#include "playback/playmanager.h"

#include <QElapsedTimer>
#include <QList>
#include <QMetaObject>
#include <QObject>

namespace TestSupport {

// Where the real player stands, from its exact reports: the latest carried
// forward at normal speed while it plays (libmpv's own position moves in steps
// of about 60 ms, and the whole-second reports lag further).
class PlayerClock {
public:
    ~PlayerClock() { stop(); }

    void follow(ObDataBase::PlayManager* manager) {
        stop();
        seconds = -1;
        at.invalidate();
        reports.clear();
        reportedAt.clear();
        since.start();
        connections << QObject::connect(manager, &ObDataBase::PlayManager::exactPositionChanged, [this](double s) {
            seconds = s;
            at.restart();
            reports << s;
            reportedAt << since.elapsed();
        });
        connections << QObject::connect(manager, &ObDataBase::PlayManager::pausedChanged, [this](bool p) {
            seconds = now();
            at.restart();
            paused = p;
        });
        paused = manager->isPaused();
    }
    void stop() {
        for (const QMetaObject::Connection& c : connections)
            QObject::disconnect(c);
        connections.clear();
    }

    // -1 before the first report.
    double now() const { return paused || !at.isValid() ? seconds : seconds + at.elapsed() / 1000.0; }

    QList<double> reports;    // every exact report, in order
    QList<qint64> reportedAt; // when each came, in ms since follow()

private:
    double seconds = -1;
    QElapsedTimer at;
    QElapsedTimer since;
    bool paused = true;
    QList<QMetaObject::Connection> connections;
};

} // namespace TestSupport

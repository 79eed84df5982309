#pragma once

#include <QObject>
#include <QString>

class MpvController;
class QThread;

// Plays short sound files (the clips of kept sentences) through libmpv without
// a picture: its own core on a worker thread, so the practice player and its
// sentence timing are left alone. Created on first use; libmpv is loaded then.
class ClipPlayer : public QObject {
    Q_OBJECT

public:
    explicit ClipPlayer(QObject* parent = nullptr);
    ~ClipPlayer() override;

    // Plays the file from its start at `speed` (0.5-2), replacing what plays.
    // False (with a reason in errorString()) when libmpv cannot start.
    bool play(const QString& path, double speed);
    void stop();
    QString errorString() const { return error; }

private:
    bool start();

    QThread* worker = nullptr;
    MpvController* ctrl = nullptr;
    QString error;
};

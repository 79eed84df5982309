#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

class QLocalSocket;

// One program per user. The first start listens on a local socket in the
// user's runtime directory (or, when that path is too long for a socket, under
// a short name in /tmp/tavrolin-<uid>, which only the user can enter); a later
// start hands its command line to it and ends, so two programs never write the
// same settings and data.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Claim {
        First,      // listening: this is the program
        HandedOver, // the running program has the command line: end this one
        Unanswered, // a program is running but did not take the command line
    };

    // `serverPath` is the socket's file; the default is in the runtime directory.
    explicit SingleInstance(const QString& serverPath = defaultServerPath(), QObject* parent = nullptr);

    Claim claim(const QStringList& arguments, const QString& workingDirectory);

    static QString defaultServerPath();

signals:
    // A later start's command line (program path first) and the directory it was started in.
    void commandLineReceived(const QStringList& arguments, const QString& workingDirectory);

private:
    bool handOver(QLocalSocket& socket, const QStringList& arguments, const QString& workingDirectory);
    void receive();
    void read(QLocalSocket* socket);

    QString path;
    QLocalServer server;
};

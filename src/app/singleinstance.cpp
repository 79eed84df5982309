#include "app/singleinstance.h"

#include "core/settings.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every wait on the other program is bounded: a program that hangs must not
// take the new start down with it.
constexpr int connectMs = 2000;
constexpr int answerMs = 5000;
constexpr int lockMs = 5000;
// A command line larger than this is not one.
constexpr quint32 largestMessage = 1 << 20;
constexpr char accepted = 'A';
// A local socket's name must fit sockaddr_un::sun_path, 108 bytes with its closing NUL.
constexpr int longestSocketPath = 107;

// /tmp/tavrolin-<uid>: short whatever the home or runtime directory, and only
// this user can enter it. Empty when what lies there is not such a directory of
// this user's (another user could have made it to catch our starts).
QString privateShortDirectory() {
    const QByteArray dir = "/tmp/tavrolin-" + QByteArray::number(::getuid());
    ::mkdir(dir.constData(), 0700);
    struct stat info {};
    if (::lstat(dir.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
        return QString();
    if ((info.st_mode & 077) != 0 && ::chmod(dir.constData(), 0700) != 0)
        return QString();
    return QFile::decodeName(dir);
}

} // namespace

SingleInstance::SingleInstance(const QString& serverPath, QObject* parent) : QObject(parent), path(serverPath) {
    // Only this user may connect.
    server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server, &QLocalServer::newConnection, this, &SingleInstance::receive);
}

QString SingleInstance::defaultServerPath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) {
        dir = dataDirectory(); // per user as well
        ensureDataDirectory();
    }
    const QString path = QDir(dir).filePath(QStringLiteral("tavrolin.socket"));
    if (QFile::encodeName(path).size() <= longestSocketPath)
        return path;
    // Too long to listen on: a short name in a private directory, named after the
    // full path so that every runtime (and so data) directory keeps its own.
    const QString shortDir = privateShortDirectory();
    if (shortDir.isEmpty()) {
        qWarning("%s is too long for a local socket and /tmp/tavrolin-%u is not a private directory of this user: "
                 "later starts cannot hand over to this one",
                 qPrintable(path), unsigned(::getuid()));
        return path;
    }
    const QByteArray hash = QCryptographicHash::hash(QFile::encodeName(path), QCryptographicHash::Sha256).toHex();
    const QString shortPath =
        shortDir + QLatin1Char('/') + QString::fromLatin1(hash.left(24)) + QStringLiteral(".socket");
    qDebug("%s is too long for a local socket (%d bytes); later starts are taken on %s", qPrintable(path),
           int(QFile::encodeName(path).size()), qPrintable(shortPath));
    return shortPath;
}

SingleInstance::Claim SingleInstance::claim(const QStringList& arguments, const QString& workingDirectory) {
    // Two starts at the same moment take turns here, so only one of them listens.
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(lockMs))
        qWarning("Could not lock %s.lock; starting anyway", qPrintable(path));

    QLocalSocket socket;
    socket.connectToServer(path);
    if (socket.waitForConnected(connectMs)) {
        lock.unlock();
        return handOver(socket, arguments, workingDirectory) ? Claim::HandedOver : Claim::Unanswered;
    }
    // Nobody answers: what lies there is left from a program that did not end properly.
    QLocalServer::removeServer(path);
    if (!server.listen(path))
        qWarning("Not listening for later starts on %s: %s", qPrintable(path), qPrintable(server.errorString()));
    return Claim::First;
}

bool SingleInstance::handOver(QLocalSocket& socket, const QStringList& arguments, const QString& workingDirectory) {
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out.setVersion(QDataStream::Qt_5_15);
        out << quint32(0) << arguments << workingDirectory;
        out.device()->seek(0);
        out << quint32(message.size() - sizeof(quint32));
    }
    socket.write(message);
    if (!socket.waitForBytesWritten(answerMs))
        return false;
    // Done only once the running program says it has the command line.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(answerMs))
            return false;
    }
    char answer = 0;
    return socket.getChar(&answer) && answer == accepted;
}

void SingleInstance::receive() {
    while (QLocalSocket* socket = server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A caller that sends nothing (or too little) is let go after a while.
        QTimer::singleShot(answerMs, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
    }
}

void SingleInstance::read(QLocalSocket* socket) {
    if (socket->bytesAvailable() < qint64(sizeof(quint32)))
        return;
    quint32 size = 0;
    QDataStream(socket->peek(sizeof(quint32))) >> size;
    if (size > largestMessage) {
        socket->abort();
        return;
    }
    if (socket->bytesAvailable() < qint64(sizeof(quint32) + size))
        return; // the rest is on its way
    socket->skip(sizeof(quint32));
    QDataStream message(socket->read(size));
    message.setVersion(QDataStream::Qt_5_15);
    QStringList arguments;
    QString workingDirectory;
    message >> arguments >> workingDirectory;
    if (message.status() != QDataStream::Ok) {
        socket->abort();
        return;
    }
    socket->putChar(accepted);
    socket->flush();
    socket->disconnectFromServer();
    emit commandLineReceived(arguments, workingDirectory);
}

#include "support/media.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>

#include <clocale>

namespace TestSupport {

namespace {

QTemporaryDir& mediaDirectory() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/tavrolin-media-XXXXXX"));
    return dir;
}

QString generate(const QString& name, const QString& program, const QStringList& arguments) {
    const QString path = mediaDirectory().filePath(name);
    if (QFileInfo(path).size() > 0)
        return path;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, QStringList(arguments).replaceInStrings(QStringLiteral("@OUT@"), path));
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 ||
        QFileInfo(path).size() == 0) {
        qWarning().noquote() << "could not generate" << name << "with" << program << ":" << process.readAll();
        return QString();
    }
    return path;
}

} // namespace

QString sineAudioFile() {
    return generate(QStringLiteral("sine-6s.wav"), QStringLiteral("sox"),
                    {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
                     QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), QStringLiteral("@OUT@"),
                     QStringLiteral("synth"), QStringLiteral("6"), QStringLiteral("sine"), QStringLiteral("440"),
                     QStringLiteral("vol"), QStringLiteral("0.3")});
}

QString shortAudioFile() {
    return generate(QStringLiteral("sine-1s.wav"), QStringLiteral("sox"),
                    {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
                     QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), QStringLiteral("@OUT@"),
                     QStringLiteral("synth"), QStringLiteral("1"), QStringLiteral("sine"), QStringLiteral("660"),
                     QStringLiteral("vol"), QStringLiteral("0.3")});
}

QString testVideoFile() {
    return generate(QStringLiteral("pattern-3s.mkv"), QStringLiteral("ffmpeg"),
                    {QStringLiteral("-nostdin"),  QStringLiteral("-v"),
                     QStringLiteral("error"),     QStringLiteral("-y"),
                     QStringLiteral("-f"),        QStringLiteral("lavfi"),
                     QStringLiteral("-i"),        QStringLiteral("testsrc=size=320x240:rate=25:duration=3"),
                     QStringLiteral("-f"),        QStringLiteral("lavfi"),
                     QStringLiteral("-i"),        QStringLiteral("sine=frequency=440:sample_rate=44100:duration=3"),
                     QStringLiteral("-c:v"),      QStringLiteral("mpeg4"),
                     QStringLiteral("-q:v"),      QStringLiteral("5"),
                     QStringLiteral("-c:a"),      QStringLiteral("aac"),
                     QStringLiteral("-shortest"), QStringLiteral("@OUT@")});
}

bool audioOutputAvailable() {
    QString socketPath;
    const QString server = qEnvironmentVariable("PULSE_SERVER");
    if (server.startsWith(QLatin1String("unix:")))
        socketPath = server.mid(5);
    else if (server.isEmpty() && qEnvironmentVariableIsSet("PULSE_RUNTIME_PATH"))
        socketPath = qEnvironmentVariable("PULSE_RUNTIME_PATH") + QStringLiteral("/native");
    else if (server.isEmpty())
        socketPath = qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/pulse/native");
    else
        return true; // a network server: trust the configuration
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    return socket.waitForConnected(2000);
}

void useCNumericLocale() {
    std::setlocale(LC_NUMERIC, "C");
}

bool skipsAllowed() {
    return qgetenv("TAVROLIN_ALLOW_SKIPS") == "1";
}

} // namespace TestSupport

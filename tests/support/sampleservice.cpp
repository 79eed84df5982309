#include "support/sampleservice.h"

#include "core/appinfo.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>

namespace TestSupport {

QPair<int, int> freePorts() {
    QTcpServer first;
    QTcpServer second;
    first.listen(QHostAddress::LocalHost, 0);
    second.listen(QHostAddress::LocalHost, 0);
    return {first.serverPort(), second.serverPort()};
}

QString SampleService::contentDirectory() {
    return QStringLiteral(TAVROLIN_SAMPLE_CONTENT);
}

QString SampleService::certificateFile() {
    return contentDirectory() + QStringLiteral("/service-cert.pem");
}

bool SampleService::start(const QStringList& extra) {
    ports = freePorts();
    banner.clear();
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(QStringLiteral(TAVROLIN_SAMPLE_SERVICE),
                  QStringList{"--data", contentDirectory(), "--http-port", QString::number(ports.first), "--https-port",
                              QString::number(ports.second)} +
                      extra);
    if (!process.waitForStarted(10000))
        return false;
    process.setReadChannel(QProcess::StandardError);
    while (!banner.contains("tavrolin-service: http://") && process.state() == QProcess::Running) {
        process.waitForReadyRead(1000);
        banner += process.readAllStandardError();
    }
    return process.state() == QProcess::Running;
}

void SampleService::stop() {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

void SampleService::exportLocation() const {
    qputenv("TAVROLIN_SERVICE_HOST", "127.0.0.1");
    qputenv("TAVROLIN_SERVICE_HTTP_PORT", QByteArray::number(ports.first));
    qputenv("TAVROLIN_SERVICE_HTTPS_PORT", QByteArray::number(ports.second));
    qputenv("TAVROLIN_SERVICE_CA", certificateFile().toLocal8Bit());
}

QString SampleService::httpBase() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(ports.first);
}

bool installPages(int httpPort, int httpsPort) {
    const QString source = QDir::cleanPath(QStringLiteral(TAVROLIN_TEST_DATA "/../../pages"));
    const QString target = AppInfo::applicationDirectory();
    QDirIterator it(source, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString to = target + file.mid(source.size());
        QDir().mkpath(QFileInfo(to).path());
        QFile::remove(to);
        if (!QFile::copy(file, to))
            return false;
    }
    // The German texts of the program's messages to the pages, as locale/ beside the program has them.
    QDir().mkpath(target + QStringLiteral("/locale"));
    QFile::remove(target + QStringLiteral("/locale/de.qm"));
    if (!QFile::copy(QStringLiteral(TAVROLIN_BUILD_LOCALE_DIR "/de.qm"), target + QStringLiteral("/locale/de.qm")))
        return false;
    QFile config(target + QStringLiteral("/static/config.js"));
    if (!config.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    config.write("var TAVROLIN_SERVICE = {host: \"127.0.0.1\", httpPort: " + QByteArray::number(httpPort) +
                 ", httpsPort: " + QByteArray::number(httpsPort) + "};\n");
    return config.flush();
}

} // namespace TestSupport

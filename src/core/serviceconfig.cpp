#include "core/serviceconfig.h"

#include "core/settings.h"

#include <QFile>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QtDebug>

namespace ServiceConfig {

namespace {

QString environment(const char* name) {
    return qEnvironmentVariable(name).trimmed();
}

// A port from the environment, else from the settings file, else the default;
// anything that is not a port number falls through to the next source.
int port(const char* envName, const QSettings& settings, const char* key, int fallback) {
    bool ok = false;
    int value = environment(envName).toInt(&ok);
    if (ok && value > 0 && value < 65536)
        return value;
    value = settings.value(key).toString().trimmed().toInt(&ok);
    if (ok && value > 0 && value < 65536)
        return value;
    return fallback;
}

QString text(const char* envName, const QSettings& settings, const char* key, const QString& fallback) {
    QString value = environment(envName);
    if (!value.isEmpty())
        return value;
    value = settings.value(key).toString().trimmed();
    return value.isEmpty() ? fallback : value;
}

QString base(const QString& scheme, const QString& host, int port, int standardPort) {
    QString out = scheme + QStringLiteral("://");
    out += host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('['))
               ? QLatin1Char('[') + host + QLatin1Char(']')
               : host;
    if (port != standardPort)
        out += QLatin1Char(':') + QString::number(port);
    return out;
}

} // namespace

Location location() {
    const QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
    Location out;
    out.host =
        text("TAVROLIN_SERVICE_HOST", settings, Settings::ServiceHost, QStringLiteral(TAVROLIN_DEFAULT_SERVICE_HOST));
    out.httpPort =
        port("TAVROLIN_SERVICE_HTTP_PORT", settings, Settings::ServiceHttpPort, TAVROLIN_DEFAULT_SERVICE_HTTP_PORT);
    out.httpsPort =
        port("TAVROLIN_SERVICE_HTTPS_PORT", settings, Settings::ServiceHttpsPort, TAVROLIN_DEFAULT_SERVICE_HTTPS_PORT);
    out.caFile = text("TAVROLIN_SERVICE_CA", settings, Settings::ServiceCaCertificates, QString());
    return out;
}

QString httpBase() {
    const Location where = location();
    return base(QStringLiteral("http"), where.host, where.httpPort, 80);
}

QString httpsBase() {
    const Location where = location();
    return base(QStringLiteral("https"), where.host, where.httpsPort, 443);
}

bool installTlsDefaults() {
    static const bool installed = [] {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setPeerVerifyMode(QSslSocket::VerifyPeer);
        config.setProtocol(QSsl::TlsV1_2OrLater);
        bool ok = true;
        const QString caFile = location().caFile;
        if (!caFile.isEmpty()) {
            const QList<QSslCertificate> extra = QSslCertificate::fromPath(caFile, QSsl::Pem);
            if (extra.isEmpty()) {
                qWarning() << "No certificate could be read from the service CA file" << caFile;
                ok = false;
            } else {
                // Setting the list ends the on-demand loading of the system's roots, so they go in first.
                QList<QSslCertificate> all = config.caCertificates();
                if (all.isEmpty())
                    all = QSslConfiguration::systemCaCertificates();
                all += extra;
                config.setCaCertificates(all);
            }
        }
        QSslConfiguration::setDefaultConfiguration(config);
        return ok;
    }();
    return installed;
}

} // namespace ServiceConfig

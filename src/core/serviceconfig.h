#pragma once

#include <QString>

// Where the service lives. Read from settings.ini (never written), with the
// TAVROLIN_SERVICE_* environment variables taking precedence, and the build's
// defaults (the bundled sample service on loopback) when neither says anything.
// Every URL the program builds for the service goes through here.
namespace ServiceConfig {

struct Location {
    QString host;
    int httpPort = 0;
    int httpsPort = 0;
    QString caFile; // extra PEM file of trusted certificates; empty for none
};

// Resolved afresh on each call, so a changed settings file or environment is seen.
Location location();

// "http://host[:port]" and "https://host[:port]"; the port is left out when it
// is the scheme's standard one, and an IPv6 host is bracketed.
QString httpBase();
QString httpsBase();

// Makes TLS strict for the whole process: peers are verified, only TLS 1.2 or
// later is offered, and the certificates of the extra CA file are trusted in
// addition to the system's. Done once; later calls return the first outcome.
// False when a configured CA file could not be read or held no certificate.
bool installTlsDefaults();

} // namespace ServiceConfig

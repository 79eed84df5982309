#pragma once

#include <QByteArray>
#include <QPair>
#include <QProcess>
#include <QStringList>

namespace TestSupport {

// Two distinct free loopback ports (both probes are held until both are known).
QPair<int, int> freePorts();

// The built sample service, run as a child process on its generated content.
class SampleService {
public:
    SampleService() = default;
    ~SampleService() { stop(); }
    SampleService(const SampleService&) = delete;
    SampleService& operator=(const SampleService&) = delete;

    // Starts on two free loopback ports and waits until it listens; `extra`
    // arguments go to the service (e.g. "--offer-update"). False when it
    // could not start; `output()` then says why.
    bool start(const QStringList& extra = {});
    void stop();

    // Points the program's own requests at this service (environment).
    void exportLocation() const;

    int httpPort() const { return ports.first; }
    int httpsPort() const { return ports.second; }
    QString httpBase() const;
    QByteArray output() const { return banner; }
    // What the service has written to its log since the last call.
    QByteArray readLog() { return process.readAllStandardError(); }

    static QString contentDirectory();
    static QString certificateFile();

private:
    QProcess process;
    QPair<int, int> ports{0, 0};
    QByteArray banner;
};

// Copies the page set beside the test executable, where the application looks
// for it, with a page configuration naming the given service ports, and the
// German texts of the messages the pages show (locale/de.qm).
bool installPages(int httpPort, int httpsPort);

} // namespace TestSupport

#pragma once

// A microphone for tests on the PulseAudio server the test command runs: a
// null sink whose monitor is remapped into a capture source (a monitor alone is
// no microphone to the program), made the default source. What is played into
// the sink is what the microphone hears. Gone again when the object is.

#include <QProcess>
#include <QString>
#include <QStringList>

class VirtualMicrophone {
public:
    static constexpr const char* feed = "tavrolin_test_voice";
    static constexpr const char* source = "tavrolin_test_microphone";

    VirtualMicrophone() {
        removeLeftovers();
        sinkModule = pactl({"load-module", "module-null-sink", QStringLiteral("sink_name=%1").arg(feed)});
        sourceModule =
            pactl({"load-module", "module-remap-source", QStringLiteral("master=%1.monitor").arg(feed),
                   QStringLiteral("source_name=%1").arg(source), "source_properties=device.description=Testmikrofon"});
        if (isReady())
            pactl({"set-default-source", source});
    }
    ~VirtualMicrophone() { unplug(); }
    VirtualMicrophone(const VirtualMicrophone&) = delete;
    VirtualMicrophone& operator=(const VirtualMicrophone&) = delete;

    bool isReady() const { return !sinkModule.isEmpty() && !sourceModule.isEmpty(); }

    // Says the file into the microphone (in the background; the process is the caller's to wait for).
    QProcess* say(const QString& file) {
        auto* player = new QProcess;
        player->start("paplay", {QStringLiteral("--device=%1").arg(feed), file});
        return player;
    }

    void unplug() {
        if (!sourceModule.isEmpty())
            pactl({"unload-module", sourceModule});
        if (!sinkModule.isEmpty())
            pactl({"unload-module", sinkModule});
        sourceModule.clear();
        sinkModule.clear();
    }

    static QString pactl(const QStringList& arguments) {
        QProcess process;
        process.start("pactl", arguments);
        if (!process.waitForFinished(10000) || process.exitCode() != 0)
            return QString();
        return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    }

private:
    // A test that crashed leaves its modules loaded in the shared server.
    static void removeLeftovers() {
        const QStringList lines = pactl({"list", "short", "modules"}).split('\n');
        for (const QString& line : lines)
            if (line.contains(QLatin1String(feed)) || line.contains(QLatin1String(source)))
                pactl({"unload-module", line.section('\t', 0, 0)});
    }

    QString sinkModule;
    QString sourceModule;
};

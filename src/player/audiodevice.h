#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariant>

// One entry of the library's "audio-device-list".
struct AudioDevice {
    AudioDevice() = default;
    explicit AudioDevice(const QVariantMap& m);

    QString label; // "[driver] description"
    QString name;  // e.g. "pulse/alsa_output.pci-0000_00_1b.0.analog-stereo"

    static QList<AudioDevice> listFromVList(const QVariantList& list);

    bool operator==(const AudioDevice& other) const { return label == other.label && name == other.name; }
};

Q_DECLARE_METATYPE(AudioDevice)
Q_DECLARE_METATYPE(QList<AudioDevice>)

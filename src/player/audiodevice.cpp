#include "player/audiodevice.h"

AudioDevice::AudioDevice(const QVariantMap& m) {
    const QString description = m.value(QStringLiteral("description"), QStringLiteral("-")).toString();
    name = m.value(QStringLiteral("name"), QStringLiteral("null")).toString();
    const QString driver = name.split(QLatin1Char('/')).value(0);
    label = QStringLiteral("[%1] %2").arg(driver, description);
}

QList<AudioDevice> AudioDevice::listFromVList(const QVariantList& list) {
    QList<AudioDevice> devices;
    devices.reserve(list.size());
    for (const QVariant& entry : list)
        devices.append(AudioDevice(entry.toMap()));
    return devices;
}

#include "core/settings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

QString dataDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation) + QStringLiteral("/Velmaranthose/vorb_de") +
           QDir::separator();
}

namespace Settings {

QString settingsFilePath() {
    return dataDirectory() + QStringLiteral("settings.ini");
}

QStringList loadReadingSettingsFillingDefaults() {
    QSettings settings(settingsFilePath(), QSettings::IniFormat);
    QStringList values;
    for (const KeyDefault& entry : readingSettings) {
        QString value = settings.value(entry.key).toString();
        if (value.isEmpty()) {
            value = QString::fromLatin1(entry.value);
            settings.setValue(entry.key, value);
        }
        values << value;
    }
    return values;
}

QStringList loadProxySettings() {
    QSettings settings(settingsFilePath(), QSettings::IniFormat);
    QStringList values;
    for (const char* key : proxySettings)
        values << settings.value(key).toString();
    return values;
}

} // namespace Settings

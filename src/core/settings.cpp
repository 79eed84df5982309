#include "core/settings.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>

namespace {

constexpr QFileDevice::Permissions ownerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions ownerOnlyDirectory = ownerOnlyFile | QFileDevice::ExeOwner;
constexpr QFileDevice::Permissions openToOthers =
    QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
constexpr QFileDevice::Permissions enterableByOthers = openToOthers | QFileDevice::ExeGroup | QFileDevice::ExeOther;

} // namespace

QString dataDirectory() {
    return QStandardPaths::writableLocation(QStandardPaths::DataLocation) + QStringLiteral("/Velmaranthose/vorb_de") +
           QDir::separator();
}

bool ensureDataDirectory() {
    const QString dir = QDir::cleanPath(dataDirectory());
    if (QFileInfo(dir).isDir())
        return true;
    // Empty while its permissions are narrowed, so nothing can be read through the gap.
    if (!QDir().mkpath(QFileInfo(dir).absolutePath()) || !QDir().mkdir(dir))
        return QFileInfo(dir).isDir(); // someone else may have made it meanwhile
    return QFile::setPermissions(dir, ownerOnlyDirectory);
}

void narrowDataDirectory() {
    const QString dir = QDir::cleanPath(dataDirectory());
    if (!QFileInfo(dir).isDir())
        return;
    QStringList folders{dir};
    // Links are not followed: what they point to is not ours to change.
    QDirIterator below(dir, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks,
                       QDirIterator::Subdirectories);
    while (below.hasNext())
        folders << below.next();
    for (const QString& folder : folders) {
        const QFileDevice::Permissions now = QFileInfo(folder).permissions();
        if (!(now & enterableByOthers))
            continue;
        if (QFile::setPermissions(folder, now & ownerOnlyDirectory))
            qDebug("Made %s readable by its owner only", qUtf8Printable(folder));
        else
            qWarning("Could not make %s readable by its owner only", qUtf8Printable(folder));
    }
}

namespace Settings {

QString settingsFilePath() {
    return dataDirectory() + QStringLiteral("settings.ini");
}

void prepareSettingsFile() {
    const QString path = settingsFilePath();
    const QFileInfo info(path);
    if (info.exists()) {
        if (info.permissions() & openToOthers)
            QFile::setPermissions(path, info.permissions() & ~openToOthers);
        return;
    }
    if (!ensureDataDirectory())
        return;
    QFile file(path);
    // Empty while its permissions are narrowed.
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        file.setPermissions(ownerOnlyFile);
}

double playSpeed() {
    bool number = false;
    const double speed =
        QSettings(settingsFilePath(), QSettings::IniFormat).value(PlaySpeed).toString().toDouble(&number);
    if (!number || !std::isfinite(speed))
        return 1.0;
    return std::clamp(speed, 0.5, 2.0);
}

void setPlaySpeed(double speed) {
    prepareSettingsFile();
    QSettings(settingsFilePath(), QSettings::IniFormat).setValue(PlaySpeed, QString::number(speed, 'g', 3));
}

} // namespace Settings

namespace {

// Every key of the table into its member; `fill` replaces an empty value by its
// default and writes the default back.
template <typename Values, size_t N> Values readAll(const std::array<Settings::Key<Values>, N>& table, bool fill) {
    if (fill)
        Settings::prepareSettingsFile();
    QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
    Values values;
    for (const Settings::Key<Values>& entry : table) {
        QString value = settings.value(entry.key).toString();
        if (fill && value.isEmpty() && entry.value) {
            value = QString::fromLatin1(entry.value);
            settings.setValue(entry.key, value);
        }
        values.*entry.member = value;
    }
    return values;
}

template <typename Values, size_t N>
void writeAll(const std::array<Settings::Key<Values>, N>& table, const Values& values) {
    Settings::prepareSettingsFile();
    QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
    for (const Settings::Key<Values>& entry : table)
        settings.setValue(entry.key, values.*entry.member);
}

} // namespace

ReadingSettings ReadingSettings::load() {
    return readAll(Settings::readingSettings, true);
}

ReadingSettings ReadingSettings::stored() {
    return readAll(Settings::readingSettings, false);
}

void ReadingSettings::save() const {
    writeAll(Settings::readingSettings, *this);
}

bool ProxySettings::isEmpty() const {
    return host.isEmpty() && port.isEmpty() && user.isEmpty() && password.isEmpty();
}

quint16 ProxySettings::portNumber() const {
    bool numeric = false;
    const uint number = port.trimmed().toUInt(&numeric);
    return numeric && number >= 1 && number <= 65535 ? quint16(number) : 0;
}

ProxySettings::Fault ProxySettings::fault() const {
    if (isEmpty())
        return Fault::None;
    if (host.trimmed().isEmpty())
        return Fault::MissingHost;
    if (portNumber() == 0)
        return Fault::BadPort;
    return Fault::None;
}

ProxySettings ProxySettings::load() {
    return readAll(Settings::proxySettings, false);
}

void ProxySettings::save() const {
    writeAll(Settings::proxySettings, *this);
}

SilenceSettings SilenceSettings::load() {
    return readAll(Settings::silenceSettings, true);
}

#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include <array>

// The settings file and its keys. Readers and writers open a short-lived
// QSettings on settingsFilePath() at the moment they need it.

// The per-user data directory, ending in the native separator. Computed afresh
// on every call.
QString dataDirectory();

// Creates the data directory when it is missing, owner-only (0700), with any
// missing parents; false when it cannot be created. Everything that writes
// there first calls this.
bool ensureDataDirectory();

// Makes the data directory and every folder below it owner-only where they are
// wider (made by an older version or under a loose umask), so the log, the
// downloads and the media library are not readable by other users. Run at
// every start.
void narrowDataDirectory();

namespace Settings {

QString settingsFilePath();

// Creates settings.ini owner-only (0600) before anything writes it: it holds the
// proxy password, and QSettings keeps the permissions of an existing file. An
// existing file that others may read is made owner-only. Reading never creates it.
void prepareSettingsFile();

inline constexpr const char* FontLevel = "FontLevel";
inline constexpr const char* Theme = "Theme";
inline constexpr const char* TextAlign = "TextAlign";
inline constexpr const char* FontFamily = "FontFamily";
inline constexpr const char* ExplainState = "ExplainState";
inline constexpr const char* ExplainTipState = "ExplainTipState";
inline constexpr const char* TranslationState = "TranslationState";
inline constexpr const char* PlayRepeatTimes = "PlayRepeatTimes";

inline constexpr const char* ProxyHost = "ProxyHost";
inline constexpr const char* ProxyPort = "ProxyPort";
inline constexpr const char* ProxyUser = "ProxyUser";
inline constexpr const char* ProxyPassword = "ProxyPassword";

inline constexpr const char* MainWindowRect = "MainWindow_Rect";
inline constexpr const char* MainWindowIsMax = "MainWindow_isMax";
inline constexpr const char* ComponentRect = "Component_Rect";

// How sentences are found in the sound of a local media file without subtitles.
inline constexpr const char* SilenceThresholdDb = "SilenceThresholdDb";
inline constexpr const char* SilenceMinPauseMs = "SilenceMinPauseMs";
inline constexpr const char* SilenceMinSegmentMs = "SilenceMinSegmentMs";
// The practice's playing speed (0.5 to 2.0), as the learner last chose it.
inline constexpr const char* PlaySpeed = "PlaySpeed";
// The microphone shadowing records from (the sound server's name for it); empty: the system's.
inline constexpr const char* Microphone = "Microphone";
// The folder the open-media dialog last showed.
inline constexpr const char* MediaDirectory = "MediaDirectory";
inline constexpr const char* StorePrefix = "storePrefix";

// The most one download may bring when its length is not announced, in MiB
// (default 8192); read only, never written by the program.
inline constexpr const char* MaxDownloadMiB = "MaxDownloadMiB";

// Service location; read only, never written by the program.
inline constexpr const char* ServiceHost = "ServiceHost";
inline constexpr const char* ServiceHttpPort = "ServiceHttpPort";
inline constexpr const char* ServiceHttpsPort = "ServiceHttpsPort";
inline constexpr const char* ServiceCaCertificates = "ServiceCaCertificates";

// The kept playing speed: 1 when none is kept or it is not a number, else within 0.5 .. 2.0.
double playSpeed();
void setPlaySpeed(double speed);

inline QRect mainWindowRectDefault() {
    return QRect(100, 100, 920, 675);
}

// Default geometry of the desktop paragraph window for an available screen
// area of the given size (its origin is deliberately not added): a strip one
// sentence high and a third of the screen wide, centred near the bottom.
inline QRect componentRectDefault(const QSize& available) {
    const int width = available.width() / 3;
    const int height = 150;
    return QRect((available.width() - width) / 2, available.height() - height - 60, width, height);
}

} // namespace Settings

// The eight reading settings, as stored (FontLevel ... PlayRepeatTimes). The
// main window reads them at start-up, the preferences dialog edits them, and
// the bridge sends them to the pages.
struct ReadingSettings {
    QString fontLevel;
    QString theme;
    QString textAlign;
    QString fontFamily;
    QString explainState;
    QString explainTipState;
    QString translationState;
    QString playRepeatTimes;

    // Reads the file; an empty or missing value is replaced by its default,
    // which is written back at once (the start-up fill).
    static ReadingSettings load();
    // Reads the file as it stands: empty where nothing is stored.
    static ReadingSettings stored();
    void save() const;
};

// The four proxy settings, as typed by the user; never defaulted.
struct ProxySettings {
    QString host;
    QString port;
    QString user;
    QString password;

    // Why these do not make a usable proxy. All four empty means no proxy;
    // anything else needs a host and a port from 1 to 65535, or every request
    // would go to a proxy that is not there.
    enum class Fault { None, MissingHost, BadPort };
    Fault fault() const;
    bool isEmpty() const;
    // The port as a number; 0 when it is not one from 1 to 65535.
    quint16 portNumber() const;

    static ProxySettings load();
    void save() const;
};

// Finding sentences in sound (SilenceThresholdDb, SilenceMinPauseMs,
// SilenceMinSegmentMs), as stored; the importer of local media reads them.
struct SilenceSettings {
    QString thresholdDb;
    QString minPauseMs;
    QString minSegmentMs;

    // As ReadingSettings::load: defaults fill empty values and are written back.
    static SilenceSettings load();
};

namespace Settings {

template <typename Values> struct Key {
    const char* key;
    QString Values::*member;
    const char* value; // the default; null for none
};

// The reading settings in their designed order, with their defaults.
inline const std::array<Key<ReadingSettings>, 8> readingSettings{{
    {FontLevel, &ReadingSettings::fontLevel, "Medium"},
    {Theme, &ReadingSettings::theme, "Normal"},
    {TextAlign, &ReadingSettings::textAlign, "justify"},
    {FontFamily, &ReadingSettings::fontFamily, "Arial"},
    {ExplainState, &ReadingSettings::explainState, "close"},
    {ExplainTipState, &ReadingSettings::explainTipState, "highlight"},
    {TranslationState, &ReadingSettings::translationState, "on"},
    {PlayRepeatTimes, &ReadingSettings::playRepeatTimes, "3"},
}};

inline const std::array<Key<ProxySettings>, 4> proxySettings{{
    {ProxyHost, &ProxySettings::host, nullptr},
    {ProxyPort, &ProxySettings::port, nullptr},
    {ProxyUser, &ProxySettings::user, nullptr},
    {ProxyPassword, &ProxySettings::password, nullptr},
}};

inline const std::array<Key<SilenceSettings>, 3> silenceSettings{{
    {SilenceThresholdDb, &SilenceSettings::thresholdDb, "-35"},
    {SilenceMinPauseMs, &SilenceSettings::minPauseMs, "400"},
    {SilenceMinSegmentMs, &SilenceSettings::minSegmentMs, "1000"},
}};

} // namespace Settings

#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <array>

// The settings file and its keys. Readers and writers open a short-lived
// QSettings on settingsFilePath() at the moment they need it.

// The per-user data directory, ending in the native separator. Computed afresh
// on every call.
QString dataDirectory();

namespace Settings {

QString settingsFilePath();

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
inline constexpr const char* StorePrefix = "storePrefix";

// Service location; read only, never written by the program.
inline constexpr const char* ServiceHost = "ServiceHost";
inline constexpr const char* ServiceHttpPort = "ServiceHttpPort";
inline constexpr const char* ServiceHttpsPort = "ServiceHttpsPort";
inline constexpr const char* ServiceCaCertificates = "ServiceCaCertificates";

struct KeyDefault {
    const char* key;
    const char* value;
};

// The eight reading settings in their designed order, with their defaults.
inline constexpr std::array<KeyDefault, 8> readingSettings{{
    {FontLevel, "Medium"},
    {Theme, "Normal"},
    {TextAlign, "justify"},
    {FontFamily, "Arial"},
    {ExplainState, "close"},
    {ExplainTipState, "highlight"},
    {TranslationState, "on"},
    {PlayRepeatTimes, "3"},
}};

inline constexpr std::array<const char*, 4> proxySettings{{ProxyHost, ProxyPort, ProxyUser, ProxyPassword}};

// Reads the eight reading settings in order; an empty or missing value is
// replaced by its default, which is written back at once.
QStringList loadReadingSettingsFillingDefaults();

// Reads the four proxy settings in order, without defaults.
QStringList loadProxySettings();

inline QRect mainWindowRectDefault() {
    return QRect(100, 100, 920, 675);
}

// Default geometry of the desktop paragraph window for an available screen
// area of the given size (its origin is deliberately not added).
inline QRect componentRectDefault(const QSize& available) {
    return QRect(available.width() / 2 - 400, available.height() - 200, 800, 500);
}

} // namespace Settings

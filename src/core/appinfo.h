#pragma once

#include <QString>

// Fixed facts about the program that several parts share.
namespace AppInfo {

inline constexpr const char* productName = "Tavrolin";
inline constexpr const char* version = "3.3.1";

// The directory that holds the executable, static/, local/ and locale/.
QString applicationDirectory();

// "file:///" + application directory + page path; page paths start with "/".
QString pageUrl(const QString& pagePath);

QString indexPageUrl();
QString localArticlePageUrl(const QString& channelId, const QString& articleId);
QString listenPageUrl();
QString paragraphPageUrl();

// The service's web site and support page, opened from the Help menu.
QString serviceWebsiteUrl();
QString serviceSupportUrl();

} // namespace AppInfo

#include "app/paragraph.h"

#include "app/appinfo.h"
#include "app/settings.h"
#include "bridge/webapi.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QUrl>
#include <QWebView>

Paragraph::Paragraph(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowFlags(Qt::Tool | Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setStyleSheet(QStringLiteral("background-color:transparent;"));

    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
    setGeometry(settings.value(Settings::ComponentRect, Settings::componentRectDefault(available.size())).toRect());

    const QString url = AppInfo::paragraphPageUrl();
    webView = new QWebView(this);
    setObjectName(QStringLiteral("paragraph"));
    webView->load(QUrl(url, QUrl::TolerantMode));
    webView->show();

    auto* bridge = new WebApi(webView);
    bridge->attachView(webView);

    webView->setContextMenuPolicy(Qt::NoContextMenu);
}

#include "bridge/bridgecontext.h"

#include "core/appinfo.h"

#include <QCoreApplication>
#include <QTranslator>

BridgeContext::BridgeContext(const QString& libraryModule) : library(libraryModule) {}

BridgeContext::~BridgeContext() {
    if (pageTranslation)
        QCoreApplication::removeTranslator(pageTranslation.get());
}

void BridgeContext::loadPageTranslation() {
    // The library's messages are English sources; the pages are German. Only
    // the library's contexts are in this file, so nothing else changes language.
    if (pageTranslation)
        return;
    pageTranslation = std::make_unique<QTranslator>();
    if (!pageTranslation->load(AppInfo::applicationDirectory() + QStringLiteral("/locale/de.qm")))
        qWarning("No locale/de.qm: messages about media files stay in English");
    QCoreApplication::installTranslator(pageTranslation.get());
}

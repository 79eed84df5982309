#pragma once

#include "bridge/contentstore.h"
#include "bridge/libraryloader.h"
#include "bridge/pagescript.h"

#include <QNetworkAccessManager>
#include <QPointer>
#include <QString>

#include <memory>

class QTranslator;

// What the bridges of one main window share, with one owner. The main window
// makes it and hands it to each bridge it creates (its page's, the offline-data
// window's, the paragraph window's); the bridges hand it on to their download
// routers, and the content store lives in it. Owned jointly: the two hidden
// windows, and transfers still hanging on their replies, may outlive the main
// window. Nothing here is process-wide, so two main windows (or two tests) never
// see each other's pages, downloads or deleted articles.
class BridgeContext {
public:
    // The library module's file: by default the one beside the executable.
    explicit BridgeContext(const QString& libraryModule = LibraryLoader::defaultFileName());
    ~BridgeContext();
    BridgeContext(const BridgeContext&) = delete;
    BridgeContext& operator=(const BridgeContext&) = delete;

    static std::shared_ptr<BridgeContext> create() { return std::make_shared<BridgeContext>(); }

    // The three pages' frames; every snippet runs through them.
    PageFrames pages;

    // Downloads: the offline-data page's network manager, which every download
    // goes through; whether that page is synchronised (downloads start only
    // then); the requests sent or waiting for another try, over all routers.
    QPointer<QNetworkAccessManager> dataNetwork;
    bool dataPageReady = false;
    int transfersInProgress = 0;

    // Articles deleted from the history, comma-separated.
    QString deletedArticleIds;

    // The downloaded articles, in the data directory.
    ContentStore store;

    // The library module (FFmpeg, Qt SQL, ...), loaded on first use.
    LibraryLoader library;
    // Installs the German texts of the messages about media files, which reach
    // the (German) pages; the first call loads them.
    void loadPageTranslation();

private:
    std::unique_ptr<QTranslator> pageTranslation;
};

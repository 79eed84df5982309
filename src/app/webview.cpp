#include "app/webview.h"

#include "bridge/bridgepage.h"
#include "core/net/networkaccessmanager.h"

WebView::WebView(QWidget* parent) : QWebView(parent) {
    setPage(new BridgePage(this));
}

QWebView* WebView::createWindow(QWebPage::WebWindowType type) {
    Q_UNUSED(type);
    // A plain view in a window of its own: no bridge, no signing, and a network
    // manager that keeps it from the user's files. It belongs to the main window
    // (it stays above it and ends with it); the user closes it, and it frees
    // itself then.
    auto* view = new QWebView(window());
    view->setWindowFlags(Qt::Window);
    view->page()->setNetworkAccessManager(new PageNetworkManager(view->page()));
    view->setAttribute(Qt::WA_DeleteOnClose);
    return view;
}

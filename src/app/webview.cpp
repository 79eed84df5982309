#include "app/webview.h"

WebView::WebView(QWidget* parent) : QWebView(parent) {}

QWebView* WebView::createWindow(QWebPage::WebWindowType type) {
    Q_UNUSED(type);
    // A plain top-level view: default network manager, no bridge. The user
    // closes it; it frees itself then.
    auto* view = new QWebView;
    view->setAttribute(Qt::WA_DeleteOnClose);
    return view;
}

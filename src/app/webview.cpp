#include "app/webview.h"

WebView::WebView(QWidget* parent) : QWebView(parent) {}

QWebView* WebView::createWindow(QWebPage::WebWindowType type) {
    Q_UNUSED(type);
    // A plain view in a window of its own: default network manager, no bridge.
    // It belongs to the main window (it stays above it and ends with it); the
    // user closes it, and it frees itself then.
    auto* view = new QWebView(window());
    view->setWindowFlags(Qt::Window);
    view->setAttribute(Qt::WA_DeleteOnClose);
    return view;
}

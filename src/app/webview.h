#pragma once

#include <QWebView>

// The main page's view. Its page keeps to our own pages (BridgePage); pop-up
// windows requested by its scripts open in a fresh, separate view without a
// bridge, whose network manager refuses the user's files.
class WebView : public QWebView {
    Q_OBJECT

public:
    explicit WebView(QWidget* parent);

protected:
    QWebView* createWindow(QWebPage::WebWindowType type) override;
};

#pragma once

#include <QWebView>

// The main page's view. Pop-up windows requested by its scripts open in a
// fresh, separate view without a bridge.
class WebView : public QWebView {
    Q_OBJECT

public:
    explicit WebView(QWidget* parent);

protected:
    QWebView* createWindow(QWebPage::WebWindowType type) override;
};

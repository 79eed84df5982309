#pragma once

#include <QWidget>

class QWebView;

// The floating desktop window that shows the current sentence (the paragraph
// page) above all other windows. The page can drag it; its geometry is kept
// in Component_Rect.
class Paragraph : public QWidget {
    Q_OBJECT

public:
    explicit Paragraph(QWidget* parent);

    QWebView* view() const { return webView; }

private:
    bool dragEnabled = false;
    QWebView* webView = nullptr;
};

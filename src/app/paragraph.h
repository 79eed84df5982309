#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>

class BridgeContext;
class QWebView;

// The floating desktop window that shows the current sentence (the paragraph
// page) above all other windows. The page can drag it; its geometry is kept
// in Component_Rect.
class Paragraph : public QWidget {
    Q_OBJECT

public:
    // The bridge of its page shares the main window's context.
    Paragraph(std::shared_ptr<BridgeContext> context, QWidget* parent);

    QWebView* view() const { return webView; }

    // Lets the next mouse move over the window start a window move.
    void enableDrag();
    // Ends a drag and stores the window's geometry in Component_Rect.
    void saveRect();
    bool dragging() const { return dragEnabled; }

protected:
#ifdef Q_OS_WIN
    bool nativeEvent(const QByteArray& eventType, void* message, long* result) override;
#endif
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The window bypasses the window manager, which therefore never gives it the
    // keyboard: a click takes it (for typing the missing word), leaving the window
    // hands it back to the window that had it.
    void takeKeyboard();
    void giveKeyboardBack();

    QPointer<QWidget> keyboardOwner;
    QPoint dragOffset;
    bool followingMouse = false;
    QTimer moveSettled;

    bool dragEnabled = false;
    QWebView* webView = nullptr;
};

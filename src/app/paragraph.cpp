#include "app/paragraph.h"

#include "bridge/bridgepage.h"
#include "bridge/webapi.h"
#include "core/appinfo.h"
#include "core/net/networkaccessmanager.h"
#include "core/settings.h"
#include "desktop/screens.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebView>
#include <QX11Info>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {
// A move or resize counts as ended when no further one follows within this time.
constexpr int moveSettleMs = 300;
// The page's bar with the handle and the buttons, from the window's top edge.
constexpr int handleHeight = 40;
// The page's card colour, behind the page when the window cannot be transparent.
constexpr char opaqueBackground[] = "#0f172a";
} // namespace

Paragraph::Paragraph(std::shared_ptr<BridgeContext> context, QWidget* parent) : QWidget(parent) {
    setWindowFlags(Qt::Tool | Qt::X11BypassWindowManagerHint | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    // The page's card floats with rounded corners only where a compositor blends
    // the window; without one the transparent pixels would show black, so the
    // window is painted in the card's own colour and shows as a plain strip.
    if (QX11Info::isPlatformX11() && !QX11Info::isCompositingManagerRunning()) {
        setStyleSheet(QStringLiteral("background-color:%1;").arg(QLatin1String(opaqueBackground)));
    } else {
        setAttribute(Qt::WA_TranslucentBackground);
        setStyleSheet(QStringLiteral("background-color:transparent;"));
    }

    // Where it was left, no larger than the default for this screen (so it
    // shrinks with a higher scale factor), unless its handle and buttons are out
    // of reach; the default (which reaches below the screen) is moved fully
    // onto it.
    const QList<QRect> areas = Screens::availableAreas();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect fresh = Settings::componentRectDefault(available.size());
    const QRect stored =
        QSettings(Settings::settingsFilePath(), QSettings::IniFormat).value(Settings::ComponentRect).toRect();
    if (stored.isEmpty()) {
        setGeometry(Screens::inside(fresh, areas));
    } else {
        const QRect bounded(stored.topLeft(), stored.size().boundedTo(fresh.size()));
        setGeometry(Screens::reachable(bounded, QRect(0, 0, bounded.width(), handleHeight), areas));
    }

    const QString url = AppInfo::paragraphPageUrl();
    webView = new QWebView(this);
    webView->setPage(new BridgePage(webView));
    webView->page()->setNetworkAccessManager(new PageNetworkManager(webView->page()));
    setObjectName(QStringLiteral("paragraph"));
    webView->load(QUrl(url, QUrl::TolerantMode));
    // The page fills the window, whatever size the window is given.
    auto* fill = new QVBoxLayout(this);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(webView);
    webView->show();

    auto* bridge = new WebApi(std::move(context), webView);
    bridge->attachView(webView);
    // The page starts a drag on its mousedown and ends it when done.
    bridge->setDragHandlers([this] { enableDrag(); }, [this] { saveRect(); });

    webView->setContextMenuPolicy(Qt::NoContextMenu);

    // The page owns the mouse; the window watches it to move itself while a drag is on.
    webView->installEventFilter(this);
    installEventFilter(this);
    moveSettled.setSingleShot(true);
    moveSettled.setInterval(moveSettleMs);
    connect(&moveSettled, &QTimer::timeout, this, [this] {
        if (!followingMouse)
            saveRect();
    });
}

void Paragraph::enableDrag() {
    dragEnabled = true;
}

void Paragraph::takeKeyboard() {
    if (!isActiveWindow()) {
        QWidget* active = QApplication::activeWindow();
        if (active != this)
            keyboardOwner = active;
        activateWindow();
    }
    webView->setFocus(Qt::MouseFocusReason);
}

void Paragraph::giveKeyboardBack() {
    if (QWidget* owner = keyboardOwner.data(); owner && isActiveWindow() && owner->isVisible())
        owner->activateWindow();
    keyboardOwner = nullptr;
}

void Paragraph::saveRect() {
    dragEnabled = false;
    QSettings settings(Settings::settingsFilePath(), QSettings::IniFormat);
    settings.setValue(Settings::ComponentRect, geometry());
}

bool Paragraph::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton)
            dragOffset = mouse->globalPos() - pos();
        takeKeyboard();
        break;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!(mouse->buttons() & Qt::LeftButton))
            break;
        if (followingMouse) {
            move(mouse->globalPos() - dragOffset);
            return true;
        }
        if (dragEnabled) {
            // The window bypasses the window manager, which therefore ignores a
            // system move request (while accepting it): follow the mouse until
            // the button is released.
            followingMouse = true;
            move(mouse->globalPos() - dragOffset);
            return true;
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        if (followingMouse) {
            followingMouse = false;
            saveRect();
        }
        break;
    case QEvent::Leave:
        if (watched == this && !followingMouse)
            giveKeyboardBack();
        break;
    case QEvent::Move:
    case QEvent::Resize:
        // Moves and resizes by the system (or by us) end in a saved geometry.
        if (watched == this && isVisible())
            moveSettled.start();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

#ifdef Q_OS_WIN
bool Paragraph::nativeEvent(const QByteArray& eventType, void* message, long* result) {
    Q_UNUSED(eventType);
    Q_UNUSED(result);
    const MSG* msg = static_cast<MSG*>(message);
    if (msg->message == WM_MOUSEMOVE && dragEnabled) {
        if (ReleaseCapture())
            SendMessageW(reinterpret_cast<HWND>(winId()), WM_SYSCOMMAND, 0xF012, 0);
    }
    if (msg->message == WM_EXITSIZEMOVE)
        saveRect();
    return false;
}
#endif

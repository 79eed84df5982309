#include "player/logodrawer.h"

#include <QOpenGLWidget>
#include <QPainter>
#include <QTransform>

const QString LogoDrawer::defaultLogoPath = QStringLiteral(":/images/bitmaps/blank-screen.png");

LogoDrawer::LogoDrawer(QObject* parent) : QObject(parent) {
    setLogoFile(QString());
    setBackgroundColor(QColor(0, 0, 0, 255));
}

void LogoDrawer::setLogoFile(const QString& path) {
    logoPath = path.isEmpty() ? defaultLogoPath : path;
    reloadLogo();
}

void LogoDrawer::reloadLogo() {
    // A missing image leaves the logo null; the surface is then the colour alone.
    logoImage.load(logoPath);
    emit logoSize(logoImage.size());
}

void LogoDrawer::setBackgroundColor(const QColor& color) {
    backgroundColor = color.isValid() ? color : QColor(0, 0, 0, 255);
}

void LogoDrawer::resize(int w, int h) {
    if (w <= 0 || h <= 0) {
        logoRect = QRectF(0, 0, 0, 0);
        return;
    }
    const int iw = logoImage.width();
    const int ih = logoImage.height();
    // The half-pixel shift keeps the image on whole pixels when the surface and
    // the image differ in parity.
    QTransform t;
    t.scale(2.0 / w, 2.0 / h);
    t.translate(((w + iw) % 2) * 0.5, ((h + ih) % 2) * 0.5);
    logoRect = t.mapRect(QRectF(-iw / 2.0, -ih / 2.0, iw, ih));
    if (logoRect.height() > 2) {
        const qreal f = 2 / logoRect.height();
        logoRect = QRectF(logoRect.topLeft() * f, logoRect.size() * f);
    }
    if (logoRect.width() > 2) {
        const qreal f = 2 / logoRect.width();
        logoRect = QRectF(logoRect.topLeft() * f, logoRect.size() * f);
    }
}

void LogoDrawer::paint(QOpenGLWidget* widget) {
    QPainter painter(widget);
    // Normalised coordinates onto the whole widget at any pixel ratio: the
    // painter's own viewport on a GL widget is sized in device pixels, and the
    // painter scales it by the ratio once more. The logo's place, from
    // resize(), is already in device pixels.
    painter.setViewport(0, 0, widget->width(), widget->height());
    painter.setWindow(QRect(-1, -1, 2, 2));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.fillRect(painter.window(), QBrush(backgroundColor, Qt::SolidPattern));
    if (!logoImage.isNull())
        painter.drawImage(logoRect, logoImage, QRectF(0, 0, logoImage.width(), logoImage.height()));
}

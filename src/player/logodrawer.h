#pragma once

#include <QColor>
#include <QImage>
#include <QObject>
#include <QRectF>
#include <QSize>
#include <QString>

class QOpenGLWidget;

// Paints the idle video surface: a background colour and an optional logo,
// centred and never larger than the surface.
class LogoDrawer : public QObject {
    Q_OBJECT

public:
    explicit LogoDrawer(QObject* parent = nullptr);

    void setLogoFile(const QString& path);
    void reloadLogo();
    void setBackgroundColor(const QColor& color);
    // The surface's size in device pixels, so that a logo that fits is shown
    // pixel for pixel on any screen.
    void resize(int w, int h);
    void paint(QOpenGLWidget* widget);

    // Normalised placement (-1..1 on both axes, origin in the centre).
    QRectF logoRectangle() const { return logoRect; }
    QColor background() const { return backgroundColor; }
    const QImage& image() const { return logoImage; }
    QString path() const { return logoPath; }

    static const QString defaultLogoPath;

signals:
    void logoSize(QSize size);

private:
    QRectF logoRect{0, 0, 0, 0};
    QImage logoImage;
    QString logoPath;
    QColor backgroundColor{0, 0, 0, 255};
};

#pragma once

#include <QLayout>
#include <QList>

class WebApi;

// Layout of the main window's central area: item 0 (the page) fills it, and
// item 1 (the video surface) is placed by the bridge over the page's video frame.
class VorbLayout : public QLayout {
public:
    explicit VorbLayout(WebApi* bridge);
    ~VorbLayout() override;

    void addItem(QLayoutItem* item) override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;

private:
    WebApi* bridge;
    QList<QLayoutItem*> items;
};

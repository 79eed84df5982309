#pragma once

#include <QLayout>
#include <QList>

#include <functional>

// Layout of the main window's central area: item 0 (the page) fills it, and
// item 1 (the video surface) is placed by `placeVideo` (the bridge puts it over
// the page's video frame) on every layout pass.
class VorbLayout : public QLayout {
public:
    explicit VorbLayout(std::function<void()> placeVideo);
    ~VorbLayout() override;

    void addItem(QLayoutItem* item) override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;

private:
    std::function<void()> placeVideo;
    QList<QLayoutItem*> items;
};

#include "app/vorblayout.h"

VorbLayout::VorbLayout(std::function<void()> placeVideo) : placeVideo(std::move(placeVideo)) {}

VorbLayout::~VorbLayout() {
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

void VorbLayout::addItem(QLayoutItem* item) {
    items.append(item);
}

QSize VorbLayout::minimumSize() const {
    return QSize(600, 400);
}

QSize VorbLayout::sizeHint() const {
    return QSize(600, 400);
}

void VorbLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    // The count is read on every step: placing the video may add or remove items.
    for (int i = 0; i < items.size() && i < 2; ++i) {
        if (i == 0) {
            items.at(0)->setGeometry(rect);
        } else if (placeVideo) {
            placeVideo();
        }
    }
}

QLayoutItem* VorbLayout::itemAt(int index) const {
    return index >= 0 && index < items.size() ? items.at(index) : nullptr;
}

QLayoutItem* VorbLayout::takeAt(int index) {
    return index >= 0 && index < items.size() ? items.takeAt(index) : nullptr;
}

int VorbLayout::count() const {
    return items.size();
}

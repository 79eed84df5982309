#include "player/mpvcallback.h"

MpvCallback::MpvCallback(const std::function<void(QVariant)>& callback, QObject* parent)
    : QObject(parent), callback(callback) {}

void MpvCallback::reply(QVariant value) {
    // Scheduled first so that a throwing (empty) callback still frees the object.
    deleteLater();
    callback(value);
}

#pragma once

#include <QObject>
#include <QVariant>

#include <functional>

// One-shot receiver of an asynchronous libmpv reply: calls the callback with the
// value and deletes itself afterwards.
class MpvCallback : public QObject {
    Q_OBJECT

public:
    explicit MpvCallback(const std::function<void(QVariant)>& callback, QObject* parent = nullptr);

public slots:
    void reply(QVariant value);

private:
    std::function<void(QVariant)> callback;
};

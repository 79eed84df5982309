#pragma once

#include "core/settings.h"

#include <QString>
#include <QWidget>

#include <memory>

namespace Ui {
class ProxyDialog;
}
// The proxy window: host, port, user and password, stored as typed. Values that
// make no usable proxy are refused with the reason shown in the window; Cancel
// (or closing the window) puts the stored values back. Saved values are
// announced with proxyAccepted, which the main window applies.
class ProxyDialog : public QWidget {
    Q_OBJECT

public:
    explicit ProxyDialog(QWidget* parent);
    ~ProxyDialog() override;

    // The four line edits, for the main window to fill at start-up.
    void setFields(const ProxySettings& values);
    // What the fields held when each was last left.
    const ProxySettings& values() const { return entered; }
    // Why the last Save was refused; empty when it was not.
    QString errorText() const;

signals:
    // OK with usable values, after they were stored.
    void proxyAccepted(const ProxySettings& values);

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void on_host_editingFinished();
    void on_port_editingFinished();
    void on_user_editingFinished();
    void on_password_editingFinished();
    void on_ok_clicked();
    void on_cancel_clicked();

private:
    void showError(const QString& text, QWidget* field);

    ProxySettings entered;
    std::unique_ptr<Ui::ProxyDialog> form;
};

#pragma once

#include <QWidget>

// A window that is never shown: it keeps the offline-data page loaded for the
// whole run, with its own bridge ("ListenApi") and signing network manager.
class DataDialog : public QWidget {
    Q_OBJECT

public:
    explicit DataDialog(QWidget* parent);
};

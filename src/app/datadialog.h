#pragma once

#include <QWidget>

#include <memory>

class BridgeContext;

// A window that is never shown: it keeps the offline-data page loaded for the
// whole run, with its own bridge ("ListenApi") and signing network manager; the
// bridge shares the main window's context.
class DataDialog : public QWidget {
    Q_OBJECT

public:
    DataDialog(std::shared_ptr<BridgeContext> context, QWidget* parent);
};

#pragma once

#include <QApplication>

// The application object. The media engine reports start-up failures as
// exceptions, and one of them (the video renderer) can surface from inside an
// event handler when the video surface is first shown; it is caught here and
// shown to the user instead of ending the program. Any other exception that
// reaches the event loop is shown for what it is. It also sets the
// process-wide conventions: high-DPI scaling, C number formatting (libmpv
// requires it), the interface font and UTF-8 as the local text encoding.
class Application : public QApplication {
    Q_OBJECT

public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

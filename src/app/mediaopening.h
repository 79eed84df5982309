#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QMimeData;

// How local media files reach the program from the desktop: named on the
// command line (of this start or of a later one handed over), or dropped on
// the main window.
namespace MediaOpening {

// The files a command line names (program path first): every argument that is
// not an option, relative paths taken from the directory it was started in,
// file: URLs as their paths. Whether they are media is the import's to say.
QStringList filesFromCommandLine(const QStringList& arguments, const QString& workingDirectory);

// The local files of a drag; empty when it carries none (text, web links).
QStringList filesFromDrop(const QMimeData* data);

// Takes drags of local files on the watched widgets (the page's view would
// otherwise navigate to a dropped file) and hands the files over; other drags
// go on to the widget.
class DropFilter : public QObject {
    Q_OBJECT

public:
    DropFilter(std::function<void(const QStringList&)> open, QObject* parent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(const QStringList&)> open;
};

} // namespace MediaOpening

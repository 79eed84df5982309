#include "app/mediaopening.h"

#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace MediaOpening {

QStringList filesFromCommandLine(const QStringList& arguments, const QString& workingDirectory) {
    QStringList files;
    bool options = true;
    for (const QString& argument : arguments.mid(1)) {
        if (options && argument == QLatin1String("--")) {
            options = false;
            continue;
        }
        if (argument.isEmpty() || (options && argument.startsWith(QLatin1Char('-'))))
            continue;
        const QUrl url(argument);
        const QString path = url.isLocalFile() ? url.toLocalFile() : argument;
        files << QDir::cleanPath(QDir(workingDirectory).absoluteFilePath(path));
    }
    return files;
}

QStringList filesFromDrop(const QMimeData* data) {
    QStringList files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            files << url.toLocalFile();
    }
    return files;
}

DropFilter::DropFilter(std::function<void(const QStringList&)> open, QObject* parent)
    : QObject(parent), open(std::move(open)) {}

bool DropFilter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (filesFromDrop(drag->mimeData()).isEmpty())
            break;
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList files = filesFromDrop(drop->mimeData());
        if (files.isEmpty())
            break;
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        // After the drag has ended: the import may show a progress dialog.
        QTimer::singleShot(0, this, [this, files] { open(files); });
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace MediaOpening

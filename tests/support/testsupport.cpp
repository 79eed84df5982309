#include "support/testsupport.h"

#include "core/settings.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPointer>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QWebView>

namespace TestSupport {

void useCleanDataDirectory() {
    QStandardPaths::setTestModeEnabled(true);
    QDir dir(dataDirectory());
    dir.removeRecursively();
    QDir().mkpath(dir.path());
}

void deleteTopLevelWindows(const QWidget* keep) {
    QList<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w != keep && !w->inherits("QMessageBox")) // each bridge owns its message box
            windows << w;
    }
    for (const QPointer<QWidget>& w : windows)
        delete w.data();
}

QString dataPath(const QString& relative) {
    return QStringLiteral(TAVROLIN_TEST_DATA) + QLatin1Char('/') + relative;
}

QUrl dataUrl(const QString& relative) {
    return QUrl::fromLocalFile(dataPath(relative));
}

QUrl appPageUrl(const QString& relative) {
    const QString copy = QCoreApplication::applicationDirPath() + QStringLiteral("/testdata/") + relative;
    QDir().mkpath(QFileInfo(copy).absolutePath());
    QFile::remove(copy);
    QFile::copy(dataPath(relative), copy);
    return QUrl::fromLocalFile(copy);
}

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray pngBytes(int width, int height, Qt::GlobalColor color) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

int colouredPixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() + c.green() + c.blue() > 60)
                ++count;
        }
    }
    return count;
}

InstallerProof signInstaller(const QByteArray& installer) {
    return proveInstaller(fileBytes(QStringLiteral(TAVROLIN_SAMPLE_UPDATE_KEY)), installer);
}

bool loadAndWait(QWebView* view, const QUrl& url, int timeoutMs) {
    QSignalSpy finished(view, &QWebView::loadFinished);
    view->load(url);
    if (finished.isEmpty() && !finished.wait(timeoutMs))
        return false;
    return finished.first().first().toBool();
}

ScriptRecorder::ScriptRecorder() {
    PageScript::setRecorder([this](const PageScript::Call& call) {
        calls.append(call);
        return answer ? answer(call) : QVariant();
    });
}

ScriptRecorder::~ScriptRecorder() {
    PageScript::setRecorder(nullptr);
}

QStringList ScriptRecorder::snippets(PageScript::Page page) const {
    QStringList out;
    for (const PageScript::Call& call : calls) {
        if (call.page == page)
            out << call.snippet;
    }
    return out;
}

QStringList ScriptRecorder::all() const {
    QStringList out;
    for (const PageScript::Call& call : calls)
        out << QString::fromLatin1(PageScript::pageName(call.page)) + QStringLiteral(": ") + call.snippet;
    return out;
}

} // namespace TestSupport

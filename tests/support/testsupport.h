#pragma once

#include "bridge/pagescript.h"
#include "installerproof.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <functional>

class QImage;
class QWebView;
class QWidget;

namespace TestSupport {

// Puts the standard paths in test mode and empties the data directory, so a
// test never sees the user's data or another test's files.
void useCleanDataDirectory();

// Deletes the windows a main window leaves behind (they live for the whole run
// in the application), so each test starts without them.
void deleteTopLevelWindows(const QWidget* keep = nullptr);

// A file under tests/data.
QString dataPath(const QString& relative);
QUrl dataUrl(const QString& relative);
// A copy of a file under tests/data inside the application directory (beside
// the test executable), where pages are our own and get their bridge.
QUrl appPageUrl(const QString& relative);

// The whole content of a file; empty when it cannot be read.
QByteArray fileBytes(const QString& path);

// A small PNG picture of one colour.
QByteArray pngBytes(int width, int height, Qt::GlobalColor color);

// Pixels that differ clearly from a plain black (idle video) surface, counted
// on every other row and column.
int colouredPixels(const QImage& image);

// The installer's proof signed with the update key the program is built with.
using InstallerProof = ::InstallerProof;
InstallerProof signInstaller(const QByteArray& installer);

// Loads a page and waits for it to finish; false on failure or time-out.
bool loadAndWait(QWebView* view, const QUrl& url, int timeoutMs = 15000);

// Records every snippet the bridge sends while it lives. `answer` may supply a
// result for a snippet (an invalid QVariant lets the snippet run as usual).
class ScriptRecorder {
public:
    ScriptRecorder();
    ~ScriptRecorder();
    ScriptRecorder(const ScriptRecorder&) = delete;
    ScriptRecorder& operator=(const ScriptRecorder&) = delete;

    QList<PageScript::Call> calls;
    std::function<QVariant(const PageScript::Call&)> answer;

    // Snippets sent to one page, in order.
    QStringList snippets(PageScript::Page page) const;
    // All snippets as "page: snippet", in order.
    QStringList all() const;
    void clear() { calls.clear(); }
};

} // namespace TestSupport

#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QDialog;
class QUrl;
class QWidget;

// Where the program hands control to the user or to the desktop: modal
// dialogs and message boxes, file pickers, the desktop's URL opener and the end
// of the program. Every window goes through here, so that tests can answer or
// watch each of these without a nested event loop or a real browser.
//
// Test seams, here and everywhere in the program, are one style: a process-wide
// function with a set... call that replaces it for the whole process (nullptr
// restores the real one), as Signing::setClock and PageScript::setRecorder.
namespace Desktop {

// Runs a modal dialog (message boxes, the print preview) and returns its result.
int exec(QDialog* dialog);
// A message box run through exec(); the button that closed it. Without a
// parent of its own it belongs to the main window, as does the save dialog.
QMessageBox::StandardButton message(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok);
// The save-file dialog; empty when cancelled.
QString saveFileName(QWidget* parent, const QString& caption, const QString& initialPath, const QString& filter);
// The open-file dialog; empty when cancelled.
QString openFileName(QWidget* parent, const QString& caption, const QString& initialPath, const QString& filter);
// Hands a URL to the desktop (web addresses go to the browser); false when nothing took it.
bool openUrl(const QUrl& url);
// Ends the event loops with a return code: the program ends.
void exit(int returnCode);

void setExec(std::function<int(QDialog*)> replacement);
void setSaveFileName(
    std::function<QString(QWidget*, const QString& caption, const QString& initialPath, const QString& filter)>
        replacement);
void setOpenFileName(
    std::function<QString(QWidget*, const QString& caption, const QString& initialPath, const QString& filter)>
        replacement);
void setOpenUrl(std::function<bool(const QUrl&)> replacement);
void setExit(std::function<void(int)> replacement);

// The program's main window, once it has registered itself (null before and
// after): boxes that belong to no window of their own are centred on it.
QWidget* mainWindow();
void setMainWindow(QWidget* window);

// Registers the compiled-in images and style sheet (they live in a static library,
// so the linker would drop them otherwise). Safe to call more than once.
void ensureResources();

} // namespace Desktop

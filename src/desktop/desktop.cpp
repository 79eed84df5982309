#include "desktop/desktop.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QPointer>
#include <QUrl>
#include <QWidget>

static void registerResources() {
    Q_INIT_RESOURCE(resources);
}

namespace Desktop {

namespace {

QPointer<QWidget> registeredMainWindow;

std::function<int(QDialog*)>& execReplacement() {
    static std::function<int(QDialog*)> replacement;
    return replacement;
}

std::function<QString(QWidget*, const QString&, const QString&, const QString&)>& saveFileNameReplacement() {
    static std::function<QString(QWidget*, const QString&, const QString&, const QString&)> replacement;
    return replacement;
}

std::function<QString(QWidget*, const QString&, const QString&, const QString&)>& openFileNameReplacement() {
    static std::function<QString(QWidget*, const QString&, const QString&, const QString&)> replacement;
    return replacement;
}

std::function<bool(const QUrl&)>& openUrlReplacement() {
    static std::function<bool(const QUrl&)> replacement;
    return replacement;
}

std::function<void(int)>& exitReplacement() {
    static std::function<void(int)> replacement;
    return replacement;
}

} // namespace

int exec(QDialog* dialog) {
    if (execReplacement())
        return execReplacement()(dialog);
    return dialog->exec();
}

QMessageBox::StandardButton message(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                                    QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, title, text, buttons, parent ? parent : mainWindow());
    // The words of the program's own boxes, whether or not Qt's translation is installed.
    static const std::pair<QMessageBox::StandardButton, const char*> words[] = {
        {QMessageBox::Ok, "确定"}, {QMessageBox::Yes, "是"}, {QMessageBox::No, "否"}, {QMessageBox::Cancel, "取消"}};
    for (const auto& [button, word] : words) {
        if (QAbstractButton* shown = box.button(button))
            shown->setText(QString::fromUtf8(word));
    }
    return QMessageBox::StandardButton(exec(&box));
}

QString saveFileName(QWidget* parent, const QString& caption, const QString& initialPath, const QString& filter) {
    if (saveFileNameReplacement())
        return saveFileNameReplacement()(parent, caption, initialPath, filter);
    return QFileDialog::getSaveFileName(parent ? parent : mainWindow(), caption, initialPath, filter);
}

QString openFileName(QWidget* parent, const QString& caption, const QString& initialPath, const QString& filter) {
    if (openFileNameReplacement())
        return openFileNameReplacement()(parent, caption, initialPath, filter);
    return QFileDialog::getOpenFileName(parent ? parent : mainWindow(), caption, initialPath, filter);
}

bool openUrl(const QUrl& url) {
    if (openUrlReplacement())
        return openUrlReplacement()(url);
    return QDesktopServices::openUrl(url);
}

void exit(int returnCode) {
    if (exitReplacement())
        exitReplacement()(returnCode);
    else
        QCoreApplication::exit(returnCode);
}

void setExec(std::function<int(QDialog*)> replacement) {
    execReplacement() = std::move(replacement);
}

void setSaveFileName(std::function<QString(QWidget*, const QString&, const QString&, const QString&)> replacement) {
    saveFileNameReplacement() = std::move(replacement);
}

void setOpenFileName(std::function<QString(QWidget*, const QString&, const QString&, const QString&)> replacement) {
    openFileNameReplacement() = std::move(replacement);
}

void setOpenUrl(std::function<bool(const QUrl&)> replacement) {
    openUrlReplacement() = std::move(replacement);
}

void setExit(std::function<void(int)> replacement) {
    exitReplacement() = std::move(replacement);
}

QWidget* mainWindow() {
    return registeredMainWindow.data();
}

void setMainWindow(QWidget* window) {
    registeredMainWindow = window;
}

void ensureResources() {
    static const bool done = (registerResources(), true);
    Q_UNUSED(done);
}

} // namespace Desktop

#pragma once

#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWebFrame>

#include <functional>
#include <initializer_list>

// The one place that runs script in the pages. Snippets are built from a
// template and values: every text value is escaped as the content of a
// single-quoted JavaScript string, so a value can never leave its literal,
// while ordinary values give exactly the template's text. Numbers go in as
// decimals.
namespace PageScript {

enum class Page { Main, Data, Paragraph, Other };

// One value for a template placeholder.
class Arg {
public:
    Arg(const QString& text);
    Arg(const char* text);
    Arg(int number);
    Arg(qint64 number);
    Arg(bool flag);
    const QString& text() const { return value; }

private:
    QString value;
};

// Escapes text for a position inside '...' in a script.
QString escape(const QString& text);

// Fills %1, %2, ... of the template in a single pass (a placeholder inside a
// value is never expanded again).
QString build(const QString& templ, std::initializer_list<Arg> args = {});

// The process-wide frame registers shared by every bridge.
QWebFrame* frame(Page page);
void setFrame(Page page, QWebFrame* frame);

// Which register holds this frame (Other when none does).
Page pageOf(const QWebFrame* frame);

// Runs a snippet in the frame of a register. A page that does not exist (yet)
// is skipped and gives an invalid result.
QVariant evaluate(Page page, const QString& snippet);
QVariant evaluate(QWebFrame* frame, const QString& snippet);

// Convenience: build and evaluate in one step.
inline QVariant run(Page page, const QString& templ, std::initializer_list<Arg> args = {}) {
    return evaluate(page, build(templ, args));
}
inline QVariant run(QWebFrame* target, const QString& templ, std::initializer_list<Arg> args = {}) {
    return evaluate(target, build(templ, args));
}

// Tests can watch every snippet, including those whose page is missing.
// The recorder may return a result to use instead of evaluating the snippet
// (return an invalid QVariant to evaluate normally).
struct Call {
    Page page;
    QString snippet;
};
using Recorder = std::function<QVariant(const Call&)>;
void setRecorder(Recorder recorder);

const char* pageName(Page page);

} // namespace PageScript

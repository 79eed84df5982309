#pragma once

#include "core/scripttext.h"
#include "playback/practicepage.h"

#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWebFrame>

#include <functional>
#include <initializer_list>

// The one place that runs script in the pages: the process-wide registers of
// the three page frames and the evaluation of snippets in them. Snippets are
// built by PageScript::build (core/scripttext.h) from the templates of
// core/pageprotocol.h.
namespace PageScript {

enum class Page { Main, Data, Paragraph, Other };

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

// A practice controller's page calls: its own page is the given frame (the
// frame of the bridge that owns the controller), the paragraph page the register.
class PracticePageScript : public PracticePage {
public:
    void setOwnFrame(QWebFrame* frame) { own = frame; }

    void runInOwnPage(const QString& snippet) override;
    void runInParagraphPage(const QString& snippet) override;

private:
    QPointer<QWebFrame> own;
};

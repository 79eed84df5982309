#pragma once

#include "core/scripttext.h"
#include "playback/practicepage.h"

#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWebFrame>

#include <array>
#include <functional>
#include <initializer_list>

// The one place that runs script in the pages: the frames of the three pages
// of one main window (PageFrames, owned by its BridgeContext) and the
// evaluation of snippets in them. Snippets are built by PageScript::build
// (core/scripttext.h) from the templates of core/pageprotocol.h.
namespace PageScript {

enum class Page { Main, Data, Paragraph, Other };

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

// The frames of one main window's pages (main, offline-data, paragraph), set as
// each bridge is attached, and the running of snippets in them.
class PageFrames {
public:
    using Page = PageScript::Page;
    using Arg = PageScript::Arg;

    QWebFrame* frame(Page page) const;
    void setFrame(Page page, QWebFrame* frame);
    // Which of them this frame is (Other when none).
    Page pageOf(const QWebFrame* frame) const;

    // Runs a snippet in a page's frame. A page that does not exist (yet) is
    // skipped and gives an invalid result.
    QVariant evaluate(Page page, const QString& snippet) const;
    QVariant evaluate(QWebFrame* frame, const QString& snippet) const;

    // Build and evaluate in one step.
    QVariant run(Page page, const QString& templ, std::initializer_list<Arg> args = {}) const {
        return evaluate(page, PageScript::build(templ, args));
    }
    QVariant run(QWebFrame* target, const QString& templ, std::initializer_list<Arg> args = {}) const {
        return evaluate(target, PageScript::build(templ, args));
    }

private:
    std::array<QPointer<QWebFrame>, 3> frames;
};

// A practice controller's page calls: its own page is the given frame (the
// frame of the bridge that owns the controller), the paragraph page that of its frames.
class PracticePageScript : public PracticePage {
public:
    explicit PracticePageScript(const PageFrames& frames) : frames(frames) {}
    void setOwnFrame(QWebFrame* frame) { own = frame; }

    void runInOwnPage(const QString& snippet) override;
    void runInParagraphPage(const QString& snippet) override;

private:
    const PageFrames& frames;
    QPointer<QWebFrame> own;
};

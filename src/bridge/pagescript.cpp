#include "bridge/pagescript.h"

namespace PageScript {

namespace {

Recorder recorder;

} // namespace

void setRecorder(Recorder r) {
    recorder = std::move(r);
}

// The recorder sees every snippet, including those whose page is missing.
static QVariant evaluateIn(Page page, QWebFrame* target, const QString& snippet) {
    if (recorder) {
        QVariant answer = recorder(Call{page, snippet});
        if (answer.isValid())
            return answer;
    }
    if (!target || snippet.isEmpty())
        return QVariant();
    return target->evaluateJavaScript(snippet);
}

const char* pageName(Page page) {
    switch (page) {
    case Page::Main:
        return "main";
    case Page::Data:
        return "data";
    case Page::Paragraph:
        return "paragraph";
    case Page::Other:
        break;
    }
    return "other";
}

} // namespace PageScript

QWebFrame* PageFrames::frame(Page page) const {
    if (page == Page::Other)
        return nullptr;
    return frames[size_t(page)].data();
}

void PageFrames::setFrame(Page page, QWebFrame* target) {
    if (page != Page::Other)
        frames[size_t(page)] = target;
}

PageFrames::Page PageFrames::pageOf(const QWebFrame* target) const {
    for (size_t i = 0; i < frames.size(); ++i) {
        if (target && frames[i].data() == target)
            return Page(i);
    }
    return Page::Other;
}

QVariant PageFrames::evaluate(Page page, const QString& snippet) const {
    return PageScript::evaluateIn(page, frame(page), snippet);
}

QVariant PageFrames::evaluate(QWebFrame* target, const QString& snippet) const {
    return PageScript::evaluateIn(pageOf(target), target, snippet);
}

void PracticePageScript::runInOwnPage(const QString& snippet) {
    frames.evaluate(own.data(), snippet);
}

void PracticePageScript::runInParagraphPage(const QString& snippet) {
    frames.evaluate(PageFrames::Page::Paragraph, snippet);
}

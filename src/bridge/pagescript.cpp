#include "bridge/pagescript.h"

#include <array>

namespace PageScript {

namespace {

std::array<QPointer<QWebFrame>, 3> registers;
Recorder recorder;

} // namespace

QWebFrame* frame(Page page) {
    if (page == Page::Other)
        return nullptr;
    return registers[size_t(page)].data();
}

void setFrame(Page page, QWebFrame* target) {
    if (page != Page::Other)
        registers[size_t(page)] = target;
}

Page pageOf(const QWebFrame* target) {
    for (size_t i = 0; i < registers.size(); ++i) {
        if (target && registers[i].data() == target)
            return Page(i);
    }
    return Page::Other;
}

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

QVariant evaluate(Page page, const QString& snippet) {
    return evaluateIn(page, frame(page), snippet);
}

QVariant evaluate(QWebFrame* target, const QString& snippet) {
    return evaluateIn(pageOf(target), target, snippet);
}

void setRecorder(Recorder r) {
    recorder = std::move(r);
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

void PracticePageScript::runInOwnPage(const QString& snippet) {
    PageScript::evaluate(own.data(), snippet);
}

void PracticePageScript::runInParagraphPage(const QString& snippet) {
    PageScript::evaluate(PageScript::Page::Paragraph, snippet);
}

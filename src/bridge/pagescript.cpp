#include "bridge/pagescript.h"

#include <array>

namespace PageScript {

namespace {

std::array<QPointer<QWebFrame>, 3> registers;
Recorder recorder;

} // namespace

Arg::Arg(const QString& text) : value(escape(text)) {}
Arg::Arg(const char* text) : value(escape(QString::fromUtf8(text))) {}
Arg::Arg(int number) : value(QString::number(number)) {}
Arg::Arg(qint64 number) : value(QString::number(number)) {}
Arg::Arg(bool flag) : value(flag ? QStringLiteral("true") : QStringLiteral("false")) {}

QString escape(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\'':
            out += QLatin1String("\\'");
            break;
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case 0x2028:
            out += QLatin1String("\\u2028");
            break;
        case 0x2029:
            out += QLatin1String("\\u2029");
            break;
        case 0:
            out += QLatin1String("\\u0000");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString build(const QString& templ, std::initializer_list<Arg> args) {
    // Single pass over the template: a "%n" that arrives inside a value stays as it is.
    QString out;
    out.reserve(templ.size() + 32);
    const int count = int(args.size());
    for (int i = 0; i < templ.size(); ++i) {
        const QChar c = templ.at(i);
        if (c == QLatin1Char('%') && i + 1 < templ.size() && templ.at(i + 1).isDigit()) {
            const int n = templ.at(i + 1).digitValue();
            if (n >= 1 && n <= count) {
                out += (args.begin() + (n - 1))->text();
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

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

#include "core/scripttext.h"

namespace PageScript {

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

} // namespace PageScript

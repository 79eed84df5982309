#include "library/subtitletext.h"

#include <QRegularExpression>

#include <algorithm>
#include <limits>

namespace SubtitleText {

namespace {

// Windows-1252 where it differs from Latin-1 (0x80..0x9F); 0 for the five unused bytes.
const char16_t cp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                 0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

QString fromCp1252(const QByteArray& bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto b = uchar(c);
        const char16_t u = b >= 0x80 && b < 0xA0 ? cp1252High[b - 0x80] : char16_t(b);
        *out++ = QChar(u ? u : 0xFFFD);
    }
    return text;
}

bool isBlank(const QString& line) {
    for (const QChar c : line)
        if (!c.isSpace())
            return false;
    return true;
}

// A line meant as a cue's timing line, readable or not.
bool looksLikeTiming(const QString& line) {
    static const QRegularExpression arrow(QStringLiteral("^\\s*\\d+\\s*:\\S*\\s*-+>"));
    return line.contains(QLatin1String("-->")) || arrow.match(line).hasMatch();
}

// What FFmpeg's readers accept as a timing line.
bool readableTiming(const QString& line, Format format) {
    static const QRegularExpression srt(
        QStringLiteral("^\\s*\\d+:\\d{1,2}:\\d{1,2}[,.]\\d{1,3}\\s*-->\\s*\\d+:\\d{1,2}:\\d{1,2}[,.]\\d{1,3}"));
    static const QRegularExpression vtt(
        QStringLiteral("^\\s*(\\d+:)?\\d+:\\d+\\.\\d+[ \\t]*-->[ \\t]*(\\d+:)?\\d+:\\d+\\.\\d+"));
    return (format == Format::WebVtt ? vtt : srt).match(line).hasMatch();
}

bool isNumberLine(const QString& line) {
    const QString t = line.trimmed();
    return !t.isEmpty() && std::all_of(t.begin(), t.end(), [](QChar c) { return c.isDigit(); });
}

bool startsWithWord(const QString& line, const char* word) {
    const QLatin1String w(word);
    return line.startsWith(w) && (line.size() == w.size() || line.at(w.size()).isSpace());
}

// Drawing mode of an override block: \p1 and up start a vector drawing, \p0 ends it.
void followDrawingMode(QStringView block, bool& drawing) {
    for (int i = block.indexOf(QLatin1String("\\p")); i >= 0; i = block.indexOf(QLatin1String("\\p"), i + 2)) {
        int j = i + 2;
        int level = 0;
        bool digits = false;
        while (j < block.size() && block.at(j).isDigit()) {
            level = level * 10 + block.at(j).digitValue();
            digits = true;
            ++j;
        }
        if (digits)
            drawing = level > 0;
    }
}

QString decodeEntities(const QString& text) {
    if (!text.contains(QLatin1Char('&')))
        return text;
    static const QRegularExpression entity(QStringLiteral("&(#x[0-9a-fA-F]{1,6}|#[0-9]{1,7}|[a-zA-Z]{2,6});"));
    QString out;
    int last = 0;
    auto it = entity.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString name = m.captured(1);
        QString replacement;
        if (name.startsWith(QLatin1String("#x")) || name.startsWith(QLatin1String("#"))) {
            bool ok = false;
            const uint code =
                name.startsWith(QLatin1String("#x")) ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok);
            if (ok && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF))
                replacement = QString::fromUcs4(&code, 1);
        } else if (name == QLatin1String("amp")) {
            replacement = QStringLiteral("&");
        } else if (name == QLatin1String("lt")) {
            replacement = QStringLiteral("<");
        } else if (name == QLatin1String("gt")) {
            replacement = QStringLiteral(">");
        } else if (name == QLatin1String("quot")) {
            replacement = QStringLiteral("\"");
        } else if (name == QLatin1String("apos")) {
            replacement = QStringLiteral("'");
        } else if (name == QLatin1String("nbsp")) {
            replacement = QStringLiteral(" ");
        }
        if (replacement.isNull())
            continue; // unknown: left as written
        out += QStringView(text).mid(last, m.capturedStart() - last);
        out += replacement;
        last = m.capturedEnd();
    }
    out += QStringView(text).mid(last);
    return out;
}

qint64 overlap(qint64 aStart, qint64 aEnd, qint64 bStart, qint64 bEnd) {
    return std::min(aEnd, bEnd) - std::max(aStart, bStart);
}

void appendText(QString& to, const QString& text) {
    if (to.isEmpty())
        to = text;
    else if (to != text) // the same line given twice is one line
        to += QLatin1Char(' ') + text;
}

} // namespace

QString plainText(const QString& assText) {
    QString out;
    out.reserve(assText.size());
    bool drawing = false;
    const int n = assText.size();
    for (int i = 0; i < n; ++i) {
        const QChar c = assText.at(i);
        if (c == QLatin1Char('{')) {
            const int close = assText.indexOf(QLatin1Char('}'), i + 1);
            if (close > 0) {
                followDrawingMode(QStringView(assText).mid(i + 1, close - i - 1), drawing);
                i = close;
                continue;
            }
        } else if (c == QLatin1Char('\\') && i + 1 < n) {
            const QChar next = assText.at(i + 1);
            if (next == QLatin1Char('N') || next == QLatin1Char('n') || next == QLatin1Char('h')) {
                out += QLatin1Char(' ');
                ++i;
                continue;
            }
        }
        if (!drawing)
            out += c;
    }
    if (out.contains(QLatin1Char('<'))) {
        // Tags the decoders pass through: unknown HTML-like ones, WebVTT classes, voices and timestamps.
        static const QRegularExpression tag(QStringLiteral("</?(?:[A-Za-z][^<>]*|\\d+(?::\\d+)*(?:\\.\\d+)?)>"));
        out.remove(tag);
    }
    return decodeEntities(out).simplified();
}

bool isValidUtf8(const char* data, int size) {
    const auto* p = reinterpret_cast<const uchar*>(data);
    const auto* end = p + size;
    while (p < end) {
        const uchar b = *p;
        if (b < 0x80) {
            ++p;
            continue;
        }
        int extra;
        char32_t code;
        char32_t minimum;
        if ((b & 0xE0) == 0xC0) {
            extra = 1, code = b & 0x1F, minimum = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, code = b & 0x0F, minimum = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, code = b & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        for (int k = 1; k <= extra; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[k] & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        p += extra + 1;
    }
    return true;
}

QString decode(const QByteArray& bytes, bool* legacy) {
    if (legacy)
        *legacy = false;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        const bool little = uchar(bytes.at(0)) == 0xFF;
        const int units = (bytes.size() - 2) / 2;
        QString text(units, Qt::Uninitialized);
        const auto* p = reinterpret_cast<const uchar*>(bytes.constData()) + 2;
        for (int i = 0; i < units; ++i, p += 2)
            text[i] = QChar(little ? ushort(p[0] | p[1] << 8) : ushort(p[0] << 8 | p[1]));
        return text;
    }
    if (isValidUtf8(bytes.constData(), bytes.size()))
        return QString::fromUtf8(bytes);
    if (legacy)
        *legacy = true;
    return fromCp1252(bytes);
}

QByteArray packetToUtf8(const QByteArray& bytes) {
    return isValidUtf8(bytes.constData(), bytes.size()) ? bytes : fromCp1252(bytes).toUtf8();
}

Format detectFormat(const QString& text) {
    const QString start = text.left(4096).trimmed();
    if (start.startsWith(QLatin1String("WEBVTT")))
        return Format::WebVtt;
    if (start.contains(QLatin1String("[Script Info]"), Qt::CaseInsensitive) ||
        start.contains(QLatin1String("[Events]"), Qt::CaseInsensitive))
        return Format::Ass;
    return Format::SubRip;
}

QString dropUnreadableCues(const QString& text, Format format, int* skipped) {
    if (format == Format::Ass)
        return text;
    QString normalized = text;
    normalized.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList lines = normalized.split(QLatin1Char('\n'));
    QStringList out;
    out.reserve(lines.size());
    bool firstBlock = true;
    for (int i = 0; i < lines.size();) {
        if (isBlank(lines.at(i))) {
            ++i;
            continue;
        }
        int end = i;
        while (end < lines.size() && !isBlank(lines.at(end)))
            ++end;
        const QStringList block = lines.mid(i, end - i);
        i = end;
        const bool header = firstBlock;
        firstBlock = false;

        if (format == Format::WebVtt) {
            const QString& first = block.first();
            if (header && first.startsWith(QLatin1String("WEBVTT"))) {
                out += block;
                out += QString();
                continue;
            }
            if (startsWithWord(first, "NOTE") || startsWithWord(first, "STYLE") || startsWithWord(first, "REGION"))
                continue;
            int arrow = 0;
            while (arrow < block.size() && !block.at(arrow).contains(QLatin1String("-->")))
                ++arrow;
            if (arrow <= 1 && arrow < block.size() && readableTiming(block.at(arrow), format)) {
                out += block;
                out += QString();
            } else {
                ++*skipped;
            }
            continue;
        }

        // SubRip: text lines after a blank line still belong to the cue before,
        // so only an unreadable timing line and what follows it in its block go.
        bool dropping = false;
        QStringList kept;
        for (int k = 0; k < block.size(); ++k) {
            const QString& line = block.at(k);
            if (looksLikeTiming(line)) {
                dropping = !readableTiming(line, format);
                if (dropping) {
                    ++*skipped;
                    if (k > 0 && !kept.isEmpty() && isNumberLine(block.at(k - 1)))
                        kept.removeLast(); // its cue number
                    continue;
                }
            }
            if (!dropping)
                kept += line;
        }
        if (!kept.isEmpty()) {
            out += kept;
            out += QString();
        }
    }
    return out.join(QLatin1Char('\n'));
}

int assDialogueCount(const QString& text) {
    int count = 0;
    for (const QStringRef& line : text.splitRef(QLatin1Char('\n')))
        if (line.trimmed().startsWith(QLatin1String("Dialogue:")))
            ++count;
    return count;
}

QVector<MediaSentence> sentencesFromCues(QVector<SubtitleCue> cues, qint64 duration, int* skipped) {
    const auto empty = std::remove_if(cues.begin(), cues.end(), [](const SubtitleCue& c) { return c.text.isEmpty(); });
    *skipped += int(cues.end() - empty);
    cues.erase(empty, cues.end());
    for (SubtitleCue& c : cues) {
        c.start = std::max<qint64>(c.start, 0);
        if (c.end <= c.start)
            c.end = -1;
    }
    std::stable_sort(cues.begin(), cues.end(), [](const SubtitleCue& a, const SubtitleCue& b) {
        return a.start != b.start ? a.start < b.start : a.end < b.end;
    });

    QVector<MediaSentence> sentences;
    sentences.reserve(cues.size());
    for (const SubtitleCue& c : cues) {
        if (!sentences.isEmpty()) {
            MediaSentence& last = sentences.last();
            const bool bothTimed = last.end > last.start && c.end > c.start;
            const bool together =
                c.start == last.start || (bothTimed && 2 * overlap(last.start, last.end, c.start, c.end) >=
                                                           std::max(last.end - last.start, c.end - c.start));
            if (together) {
                appendText(last.text, c.text);
                last.end = std::max(last.end, c.end);
                continue;
            }
        }
        sentences.append({c.start, c.end, c.text, QString()});
    }
    for (int i = 0; i < sentences.size(); ++i) {
        MediaSentence& s = sentences[i];
        const bool hasNext = i + 1 < sentences.size();
        if (s.end <= s.start)
            s.end = hasNext ? sentences.at(i + 1).start : std::max(duration, s.start + 1);
        if (hasNext && s.end > sentences.at(i + 1).start)
            s.end = sentences.at(i + 1).start;
    }
    return sentences;
}

void attachTranslations(QVector<MediaSentence>& sentences, QVector<SubtitleCue> cues) {
    if (sentences.isEmpty())
        return;
    std::stable_sort(cues.begin(), cues.end(),
                     [](const SubtitleCue& a, const SubtitleCue& b) { return a.start < b.start; });
    for (const SubtitleCue& c : cues) {
        if (c.text.isEmpty())
            continue;
        // Ends ascend as starts do, since no end passes the next start.
        auto it = std::upper_bound(sentences.begin(), sentences.end(), c.start,
                                   [](qint64 t, const MediaSentence& s) { return t < s.end; });
        const qint64 cueEnd = c.end > c.start ? c.end : c.start + 1; // a cue without an end is a point
        MediaSentence* best = nullptr;
        qint64 bestOverlap = 0;
        for (; it != sentences.end() && it->start < cueEnd; ++it) {
            const qint64 o = overlap(it->start, it->end, c.start, cueEnd);
            if (o > bestOverlap) {
                bestOverlap = o;
                best = &*it;
            }
        }
        if (best)
            appendText(best->translation, c.text);
    }
}

} // namespace SubtitleText

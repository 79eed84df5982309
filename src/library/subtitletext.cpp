#include "library/subtitletext.h"

#include <QHash>
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
        bool known = true;
        if (name.startsWith(QLatin1String("#x")) || name.startsWith(QLatin1String("#"))) {
            bool ok = false;
            const uint code =
                name.startsWith(QLatin1String("#x")) ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok);
            known = ok && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
            if (known)
                replacement = QString::fromUcs4(&code, 1);
        } else if (name == QLatin1String("lrm") || name == QLatin1String("rlm")) {
            // direction marks: nothing to type
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
        } else {
            known = false;
        }
        if (!known)
            continue; // left as written
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
    // Before UTF-16: FF FE 00 00 starts both, and a NUL as the first character of UTF-16 text is not text.
    if (bytes.startsWith(QByteArray("\xFF\xFE\0\0", 4)) || bytes.startsWith(QByteArray("\0\0\xFE\xFF", 4))) {
        const bool little = uchar(bytes.at(0)) == 0xFF;
        const int units = (bytes.size() - 4) / 4;
        QVector<char32_t> codes(units);
        const auto* p = reinterpret_cast<const uchar*>(bytes.constData()) + 4;
        for (int i = 0; i < units; ++i, p += 4) {
            const char32_t c = little ? char32_t(p[0] | p[1] << 8 | p[2] << 16 | uint(p[3]) << 24)
                                      : char32_t(uint(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]);
            codes[i] = c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) ? char32_t(0xFFFD) : c;
        }
        return QString::fromUcs4(codes.constData(), units);
    }
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

namespace {

// WebVTT blocks as the W3C parser collects them: a block ends at a blank line,
// and also at a line with "-->" that cannot be its timing line (not the first
// line, nor the second after an identifier), which starts the next cue. Files
// written without blank lines between cues are read cue by cue that way.
QStringList readableWebVtt(const QStringList& lines, int* skipped) {
    QStringList out;
    out.reserve(lines.size() + lines.size() / 2);
    bool first = true;
    for (int i = 0; i < lines.size();) {
        if (isBlank(lines.at(i))) {
            ++i;
            continue;
        }
        const bool header = first && lines.at(i).startsWith(QLatin1String("WEBVTT"));
        first = false;
        int arrow = -1;
        int end = header ? i + 1 : i; // the WEBVTT line itself is the header's, whatever follows on it
        for (; end < lines.size() && !isBlank(lines.at(end)); ++end) {
            if (!lines.at(end).contains(QLatin1String("-->")))
                continue;
            const int count = end - i;
            if (header || !(count == 0 || (count == 1 && arrow < 0)))
                break;
            arrow = end;
        }
        const QStringList block = lines.mid(i, end - i);
        i = end;
        if (header) {
            out += block;
            out += QString();
            continue;
        }
        const QString& head = block.first();
        if (arrow < 0 &&
            (startsWithWord(head, "NOTE") || startsWithWord(head, "STYLE") || startsWithWord(head, "REGION")))
            continue;
        if (arrow >= 0 && readableTiming(lines.at(arrow), Format::WebVtt)) {
            out += block;
            out += QString();
        } else {
            ++*skipped; // a broken timing line, or text outside any cue
        }
    }
    return out;
}

} // namespace

QString dropUnreadableCues(const QString& text, Format format, int* skipped) {
    if (format == Format::Ass)
        return text;
    QString normalized = text;
    normalized.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList lines = normalized.split(QLatin1Char('\n'));
    if (format == Format::WebVtt)
        return readableWebVtt(lines, skipped).join(QLatin1Char('\n'));
    QStringList out;
    out.reserve(lines.size());
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

QString standardAssEvents(const QString& text) {
    static const QStringList standard{QStringLiteral("layer"),   QStringLiteral("start"),   QStringLiteral("end"),
                                      QStringLiteral("style"),   QStringLiteral("name"),    QStringLiteral("marginl"),
                                      QStringLiteral("marginr"), QStringLiteral("marginv"), QStringLiteral("effect"),
                                      QStringLiteral("text")};
    QStringList lines = text.split(QLatin1Char('\n'));
    bool events = false;
    bool changed = false;
    QVector<int> from; // for each standard field, its place in the file's lines; empty: nothing to rewrite
    int fields = 0;
    for (QString& line : lines) {
        const QString t = line.trimmed();
        if (t.startsWith(QLatin1Char('['))) {
            events = t.compare(QLatin1String("[Events]"), Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!events)
            continue;
        if (t.startsWith(QLatin1String("Format:"), Qt::CaseInsensitive)) {
            QStringList names = t.mid(7).split(QLatin1Char(','));
            for (QString& name : names)
                name = name.trimmed().toLower();
            if (names.value(0) == QLatin1String("marked"))
                names[0] = QStringLiteral("layer"); // SSA's forerunner of Layer, read alike
            from.clear();
            // Text is the last field, so that it may hold commas; without it there is nothing to read.
            if (names == standard || names.last() != QLatin1String("text"))
                continue;
            fields = int(names.size());
            for (const QString& name : standard)
                from.append(int(names.indexOf(name)));
            line = QStringLiteral("Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text");
            changed = true;
            continue;
        }
        if (from.isEmpty() || !t.startsWith(QLatin1String("Dialogue:")))
            continue;
        const QString value = t.mid(9);
        QStringList parts;
        int at = 0;
        for (int k = 0; k + 1 < fields; ++k) {
            const int comma = value.indexOf(QLatin1Char(','), at);
            if (comma < 0)
                break;
            parts << value.mid(at, comma - at).trimmed();
            at = comma + 1;
        }
        if (parts.size() + 1 != fields)
            continue; // too few fields: left for the reader to refuse
        parts << value.mid(at);
        QStringList out;
        for (int k = 0; k < standard.size(); ++k) {
            QString v = from.at(k) >= 0 ? parts.at(from.at(k)) : QString();
            if (k == 0 && !v.isEmpty() && !v.at(0).isDigit())
                v = QStringLiteral("0"); // "Marked=0"
            else if (v.isEmpty() && (k == 0 || (k >= 5 && k <= 7)))
                v = QStringLiteral("0");
            out << v;
        }
        line = QStringLiteral("Dialogue: ") + out.join(QLatin1Char(','));
    }
    return changed ? lines.join(QLatin1Char('\n')) : text;
}

QString webVttText(const QString& payload) {
    QString out;
    out.reserve(payload.size());
    const int n = int(payload.size());
    for (int i = 0; i < n; ++i) {
        const QChar c = payload.at(i);
        if (c == QLatin1Char('<')) {
            const int close = payload.indexOf(QLatin1Char('>'), i + 1);
            if (close < 0)
                break; // an unclosed tag runs to the end of the cue
            i = close;
            continue;
        }
        out += c == QLatin1Char('\n') ? QChar(QLatin1Char(' ')) : c;
    }
    return decodeEntities(out).simplified();
}

SubtitleCue::Mark assEventMark(const QString& effect, const QString& text) {
    if (!effect.trimmed().isEmpty())
        return SubtitleCue::Mark::Sign;
    static const QRegularExpression karaoke(QStringLiteral("\\\\(?:k|K|kf|ko)[0-9.]"));
    bool drawing = false;
    bool timed = false;
    for (int open = text.indexOf(QLatin1Char('{')); open >= 0; open = text.indexOf(QLatin1Char('{'), open + 1)) {
        const int close = text.indexOf(QLatin1Char('}'), open + 1);
        if (close < 0)
            break;
        const QStringView block = QStringView(text).mid(open + 1, close - open - 1);
        bool drawHere = false;
        followDrawingMode(block, drawHere);
        drawing = drawing || drawHere;
        timed = timed || karaoke.match(block.toString()).hasMatch();
        open = close;
    }
    return drawing ? SubtitleCue::Mark::Sign : timed ? SubtitleCue::Mark::Karaoke : SubtitleCue::Mark::None;
}

int leaveOutNonDialogue(QVector<SubtitleCue>& cues) {
    struct Count {
        int lines = 0;
        int marked = 0;
    };
    QHash<QString, Count> styles;
    bool any = false;
    for (const SubtitleCue& c : cues) {
        Count& count = styles[c.style];
        ++count.lines;
        if (c.mark != SubtitleCue::Mark::None) {
            ++count.marked;
            any = true;
        }
    }
    if (!any)
        return 0;
    const auto kept = std::remove_if(cues.begin(), cues.end(), [&styles](const SubtitleCue& c) {
        const Count& count = styles[c.style];
        return c.mark == SubtitleCue::Mark::Sign || 2 * count.marked > count.lines;
    });
    const int leftOut = int(cues.end() - kept);
    cues.erase(kept, cues.end());
    return leftOut;
}

QVector<MediaSentence> sentencesFromCues(QVector<SubtitleCue> cues, qint64 duration, int* skipped) {
    // Zero-length cues, and cues over before the media starts, are never shown.
    cues.erase(std::remove_if(cues.begin(), cues.end(),
                              [](const SubtitleCue& c) { return c.end == c.start || (c.end > c.start && c.end <= 0); }),
               cues.end());
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
        if (c.text.isEmpty() || c.end == c.start)
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

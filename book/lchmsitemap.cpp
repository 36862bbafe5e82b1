// The contents sitemap: nested <UL> lists of <OBJECT type="text/sitemap"> elements whose
// <param> children give each entry's title, targets and icon. A forgiving tag scanner, not
// an HTML parser: it looks at object, param and ul tags only and skips everything else.

#include "htmlentities.h"
#include "lchmfileimpl.h"
#include "booklocation.h"

#include <QSet>
#include <QtDebug>

#include <climits>

namespace {

// Deeper nesting than this is an error of the book; the level stays one below it.
constexpr int maxNestDepth = 256;

// Whether `text`, lower-cased, is `lower` (lower-case ASCII). ASCII text is compared in place
// and stops at the first difference (a tag name may be long); anything else goes through
// toLower, so the answer is the same as lower-casing a copy.
bool lowerEquals(QStringView text, QLatin1String lower)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t c = text.at(i).unicode();
        if (c >= 0x80)
            return text.toString().toLower() == lower;
        if (i >= lower.size())
            return false;
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c + (u'a' - u'A'));
        if (c != char16_t(uchar(lower.latin1()[i])))
            return false;
    }
    return text.size() == lower.size();
}

// Hostile text can make a tag or a whole sitemap one run; a diagnostic shows its start.
QString excerpt(QStringView text)
{
    constexpr qsizetype shown = 200;
    if (text.size() <= shown)
        return text.toString();
    return text.left(shown).toString() + QLatin1String("...");
}

// The quoted run that starts at the first double quote at or behind `start` and ends at the
// next double quote (`firstQuote`) or at the last one of the tag: *open and *close are the
// positions of its quotes. False, with a warning, when there is none.
bool quotedRange(QStringView tag, int start, bool firstQuote, qsizetype* open, qsizetype* close)
{
    // Only double quotes delimit here. A negative start would search from the end.
    *open = tag.indexOf(QLatin1Char('"'), qMax(start, 0));
    if (*open < 0) {
        qWarning("LCHMFileImpl::findStringInQuotes: cannot find first quote in <param> tag: '%s'",
                 qPrintable(excerpt(tag)));
        return false;
    }
    *close = firstQuote ? tag.indexOf(QLatin1Char('"'), *open + 1) : tag.lastIndexOf(QLatin1Char('"'));
    if (*close <= *open || *close >= INT_MAX) {
        qWarning("LCHMFileImpl::findStringInQuotes: cannot find last quote in <param> tag: '%s'",
                 qPrintable(excerpt(tag)));
        return false;
    }
    return true;
}

// An entry's first few targets are checked for duplicates by a plain look through them;
// from this many on, `urls` holds them all in a set, so that a damaged object listing
// thousands stays cheap.
constexpr qsizetype hashedTargets = 8;

// Reads one <param> tag (its text without "<" and ">") into the entry being built; `urls`
// is empty or holds the entry's targets (see hashedTargets). Targets resolve against the
// folder of the sitemap `sitemapPath`.
// A malformed tag is reported and skipped; the entry keeps what it had.
void readParam(LCHMFileImpl& impl, QStringView tag, const QString& sitemapPath, LCHMParsedEntry& entry,
               QSet<QString>& urls)
{
    static const QLatin1String nameKey("name=");
    static const QLatin1String valueKey("value=");

    // Positions inside a tag are plain ints; a tag beyond that size is no contents entry.
    if (tag.size() >= INT_MAX)
        return;

    const qsizetype namePos = tag.indexOf(nameKey, 0, Qt::CaseInsensitive);
    if (namePos < 0) {
        qWarning("LCHMFileImpl::ParseAndFillTopicsTree: bad <param> tag '%s': no name=\n", qPrintable(excerpt(tag)));
        return;
    }
    // The name is read in place: it is only compared.
    qsizetype nameOpen = 0;
    qsizetype nameClose = 0;
    if (!quotedRange(tag, int(namePos + nameKey.size()), true, &nameOpen, &nameClose))
        return;
    const QStringView name = tag.mid(nameOpen + 1, nameClose - nameOpen - 1);
    const int afterName = int(nameClose + 1);

    const qsizetype valuePos = tag.indexOf(valueKey, afterName, Qt::CaseInsensitive);
    if (valuePos < 0) {
        qWarning("LCHMFileImpl::ParseAndFillTopicsTree: bad <param> tag '%s': no value=\n", qPrintable(excerpt(tag)));
        return;
    }
    // The value runs to the last double quote of the tag, so it may hold quotes itself.
    QString value;
    if (impl.findStringInQuotes(tag, int(valuePos + valueKey.size()), value, false, true) < 0)
        return;

    if (lowerEquals(name, QLatin1String("name"))) {
        if (!value.isEmpty()) {
            entry.name = value;
            if (entry.firstName.isEmpty())
                entry.firstName = value;
        }
    } else if (lowerEquals(name, QLatin1String("local"))) {
        QString path = resolveSitemapTarget(value, sitemapPath);
        if (entry.urls.size() < hashedTargets) {
            if (!entry.urls.contains(path))
                entry.urls.append(std::move(path));
            return;
        }
        if (urls.isEmpty())
            urls = QSet<QString>(entry.urls.cbegin(), entry.urls.cend());
        if (!urls.contains(path)) {
            urls.insert(path);
            entry.urls.append(std::move(path));
        }
    } else if (lowerEquals(name, QLatin1String("imagenumber"))) {
        bool ok = false;
        const int number = value.toInt(&ok, 10);
        if (ok && number >= 0 && number <= 41)
            entry.imageNumber = number;
    }
}

} // namespace

bool LCHMFileImpl::ParseAndFillTopicsTree(const QString& file, QVector<LCHMParsedEntry>* out)
{
    QString text;
    if (!out || !readFileText(file, &text) || text.isEmpty())
        return false;
    return parseSitemapText(text, out, file);
}

bool LCHMFileImpl::parseSitemapText(const QString& text, QVector<LCHMParsedEntry>* out, const QString& sitemapPath)
{
    if (!out)
        return false;

    const qsizetype length = text.size();
    int depth = 0;
    int rootOffset = 0;
    bool rootOffsetSet = false;
    bool inObject = false;
    bool depthWarned = false;
    LCHMParsedEntry entry;
    QSet<QString> entryUrls;

    qsizetype pos = 0;
    while (pos < length) {
        const qsizetype open = text.indexOf(QLatin1Char('<'), pos);
        if (open < 0)
            break;

        // Walk the tag: quoted runs are skipped whole, the first character that is neither a
        // letter, a digit nor "/" ends the name, and ">" ends the tag. Every jump moves
        // forward, so the whole scan is one pass over the text.
        const qsizetype tagStart = open + 1;
        qsizetype nameEnd = -1;
        qsizetype i = tagStart;
        while (i < length) {
            const QChar c = text.at(i);
            if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                const qsizetype close = text.indexOf(c, i + 1);
                if (close >= 0) {
                    i = close + 1;
                    continue;
                }
                // An unpartnered quote: go on behind the next ">", which does not end the tag.
                const qsizetype gt = text.indexOf(QLatin1Char('>'), i + 1);
                if (gt < 0) {
                    qWarning("LCHMFileImpl::ParseHhcAndFillTree: corrupted TOC: %s",
                             qPrintable(excerpt(QStringView(text).mid(i))));
                    return false;
                }
                i = gt + 1;
                continue;
            }
            if (c == QLatin1Char('>'))
                break;
            if (nameEnd < 0 && !c.isLetterOrNumber() && c != QLatin1Char('/'))
                nameEnd = i;
            ++i;
        }
        const qsizetype tagEnd = i;  // the ">" or the end of the text
        if (nameEnd < 0)
            nameEnd = tagEnd;
        pos = tagEnd + 1;

        // The tag is looked at in place; only param values are copied out.
        const QStringView tag = QStringView(text).mid(tagStart, tagEnd - tagStart);
        const QStringView tagName = tag.left(nameEnd - tagStart);
        if (lowerEquals(tagName, QLatin1String("object"))) {
            if (tag.contains(QLatin1String("text/sitemap"), Qt::CaseInsensitive))
                inObject = true;
        } else if (lowerEquals(tagName, QLatin1String("/object"))) {
            if (!inObject)
                continue;
            if (!entry.name.isEmpty()) {
                if (!rootOffsetSet) {
                    rootOffsetSet = true;
                    rootOffset = depth;
                    if (rootOffset > 1)
                        qWarning("CHM has improper index; root indent offset is %d", rootOffset);
                }
                entry.name = std::move(entry.name).trimmed();
                entry.indent = depth - rootOffset;
                out->append(std::move(entry));
            } else if (entry.urls.isEmpty()) {
                qWarning("LCHMFileImpl::ParseAndFillTopicsTree: <object> tag is parsed, but both name and url are empty.");
            } else {
                qWarning("LCHMFileImpl::ParseAndFillTopicsTree: <object> tag with url \"%s\" is parsed, but name is empty.",
                         qPrintable(entry.urls.constFirst()));
            }
            entry = LCHMParsedEntry();
            entryUrls.clear();
            inObject = false;
        } else if (lowerEquals(tagName, QLatin1String("param"))) {
            if (inObject)
                readParam(*this, tag, sitemapPath, entry, entryUrls);
        } else if (lowerEquals(tagName, QLatin1String("ul"))) {
            if (depth + 1 >= maxNestDepth) {
                // Said once: a hostile sitemap may open thousands of levels past the limit.
                if (!depthWarned)
                    qWarning("LCHMFileImpl::ParseAndFillTopicsTree: max nest depth (%d) is reached, error in help file",
                             maxNestDepth);
                depthWarned = true;
            } else {
                ++depth;
            }
        } else if (lowerEquals(tagName, QLatin1String("/ul"))) {
            if (depth > rootOffset)
                --depth;
        }
    }
    return true;
}

int LCHMFileImpl::findStringInQuotes(QStringView tag, int start, QString& value, bool firstQuote, bool decodeEntities)
{
    value.clear();

    qsizetype open = 0;
    qsizetype close = 0;
    if (!quotedRange(tag, start, firstQuote, &open, &close))
        return -1;

    if (!decodeEntities) {
        value = tag.mid(open + 1, close - open - 1).toString();
        return int(close + 1);
    }

    // "&name;" and "&#number;" are replaced by their text. An "&" that does not begin an
    // entity the table knows (no name, no ";" behind the name, an unknown name) stays
    // literal text, as browsers keep it: "AT&T Syntax" reads as written. Literal text is
    // appended in runs, each up to the next entity that decodes.
    const auto isEntityCharacter = [](QChar c) {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('#');
    };
    const QStringView quoted = tag.mid(open + 1, close - open - 1);
    const qsizetype length = quoted.size();
    value.reserve(length);
    qsizetype runStart = 0;  // the literal text not yet appended begins here
    qsizetype amp = -1;
    while ((amp = quoted.indexOf(QLatin1Char('&'), amp + 1)) >= 0) {
        qsizetype end = amp + 1;
        while (end < length && isEntityCharacter(quoted.at(end)))
            ++end;
        if (end > amp + 1 && end < length && quoted.at(end) == QLatin1Char(';')) {
            const QString decoded = decodeEntity(quoted.mid(amp + 1, end - amp - 1).toString());
            if (!decoded.isNull()) {
                value.append(quoted.mid(runStart, amp - runStart));
                value.append(decoded);
                runStart = end + 1;
                amp = end;
            }
        }
    }
    value.append(quoted.mid(runStart));
    return int(close + 1);
}

QString LCHMFileImpl::decodeEntity(const QString& entity)
{
    if (entity.startsWith(QLatin1Char('#'))) {
        // A decimal character number; the character is its low 16 bits.
        const QStringView digits = QStringView(entity).mid(1);
        bool valid = !digits.isEmpty();
        quint32 code = 0;
        for (const QChar c : digits) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
                valid = false;
                break;
            }
            code = (code * 10 + quint32(c.unicode() - '0')) & 0xFFFF;
        }
        if (valid)
            return QString(QChar(char16_t(code)));
    } else if (const char32_t code = HtmlEntities::codePoint(entity)) {
        if (code < 0xA0 || code > 0xFF)
            return QString(QChar(char16_t(code)));
        // The Latin-1 names stand for bytes of the book's own code page. A codec may turn a
        // lone byte into nothing; the entity still exists and decodes to empty text (a null
        // value would read as "unknown entity").
        const QString text = decodeText(QByteArray(1, char(code)));
        return text.isNull() ? QStringLiteral("") : text;
    }
    qWarning("LCHMFileImpl::decodeEntity: could not decode HTML entity '%s'", qPrintable(excerpt(entity)));
    return QString();
}

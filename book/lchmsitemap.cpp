// The contents sitemap: nested <UL> lists of <OBJECT type="text/sitemap"> elements whose
// <param> children give each entry's title, targets and icon. A forgiving tag scanner, not
// an HTML parser: it looks at object, param and ul tags only and skips everything else.

#include "lchmfileimpl.h"
#include "lchmurl.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QSet>
#include <QThread>
#include <QtDebug>

#include <climits>

namespace {

// Deeper nesting than this is an error of the book; the level stays one below it.
constexpr int maxNestDepth = 256;

// Shows the busy cursor for its lifetime, when there is a GUI application to show it and the
// parse runs on its thread (a big keyword index is parsed on a worker).
class BusyCursor
{
public:
    BusyCursor()
        : m_active(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr
                   && QThread::currentThread() == QCoreApplication::instance()->thread())
    {
        if (m_active)
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    }
    ~BusyCursor()
    {
        if (m_active)
            QGuiApplication::restoreOverrideCursor();
    }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    bool m_active;
};

// Reads one <param> tag (its text without "<" and ">") into the entry being built; `urls`
// holds the entry's targets for the duplicate test, which stays cheap however many targets
// a damaged object lists. Targets resolve against the folder of the sitemap `sitemapPath`.
// A malformed tag is reported and skipped; the entry keeps what it had.
void readParam(LCHMFileImpl& impl, const QString& tag, const QString& sitemapPath, LCHMParsedEntry& entry,
               QSet<QString>& urls)
{
    static const QLatin1String nameKey("name=");
    static const QLatin1String valueKey("value=");

    // Positions inside a tag are plain ints; a tag beyond that size is no contents entry.
    if (tag.size() >= INT_MAX)
        return;

    const qsizetype namePos = tag.indexOf(nameKey, 0, Qt::CaseInsensitive);
    if (namePos < 0) {
        qWarning("LCHMFileImpl::ParseAndFillTopicsTree: bad <param> tag '%s': no name=\n", qPrintable(tag));
        return;
    }
    QString name;
    const int afterName = impl.findStringInQuotes(tag, int(namePos + nameKey.size()), name, true, false);
    if (afterName < 0)
        return;
    name = name.toLower();

    const qsizetype valuePos = tag.indexOf(valueKey, afterName, Qt::CaseInsensitive);
    if (valuePos < 0) {
        qWarning("LCHMFileImpl::ParseAndFillTopicsTree: bad <param> tag '%s': no value=\n", qPrintable(tag));
        return;
    }
    // The value runs to the last double quote of the tag, so it may hold quotes itself.
    QString value;
    if (impl.findStringInQuotes(tag, int(valuePos + valueKey.size()), value, false, true) < 0)
        return;

    if (name == QLatin1String("name")) {
        if (!value.isEmpty()) {
            entry.name = value;
            if (entry.firstName.isEmpty())
                entry.firstName = value;
        }
    } else if (name == QLatin1String("local")) {
        const QString path = resolveSitemapTarget(value, sitemapPath);
        if (!urls.contains(path)) {
            urls.insert(path);
            entry.urls.append(path);
        }
    } else if (name == QLatin1String("imagenumber")) {
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

    BusyCursor busy;
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
                    qWarning("LCHMFileImpl::ParseHhcAndFillTree: corrupted TOC: %s", qPrintable(text.mid(i)));
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

        const QString tagName = text.mid(tagStart, nameEnd - tagStart).toLower();
        if (tagName == QLatin1String("object")) {
            const QString tag = text.mid(tagStart, tagEnd - tagStart);
            if (tag.contains(QLatin1String("text/sitemap"), Qt::CaseInsensitive))
                inObject = true;
        } else if (tagName == QLatin1String("/object")) {
            if (!inObject)
                continue;
            if (!entry.name.isEmpty()) {
                if (!rootOffsetSet) {
                    rootOffsetSet = true;
                    rootOffset = depth;
                    if (rootOffset > 1)
                        qWarning("CHM has improper index; root indent offset is %d", rootOffset);
                }
                entry.name = entry.name.trimmed();
                entry.indent = depth - rootOffset;
                out->append(entry);
            } else if (entry.urls.isEmpty()) {
                qWarning("LCHMFileImpl::ParseAndFillTopicsTree: <object> tag is parsed, but both name and url are empty.");
            } else {
                qWarning("LCHMFileImpl::ParseAndFillTopicsTree: <object> tag with url \"%s\" is parsed, but name is empty.",
                         qPrintable(entry.urls.constFirst()));
            }
            entry = LCHMParsedEntry();
            entryUrls.clear();
            inObject = false;
        } else if (tagName == QLatin1String("param")) {
            if (inObject)
                readParam(*this, text.mid(tagStart, tagEnd - tagStart), sitemapPath, entry, entryUrls);
        } else if (tagName == QLatin1String("ul")) {
            if (depth + 1 >= maxNestDepth)
                qWarning("LCHMFileImpl::ParseAndFillTopicsTree: max nest depth (%d) is reached, error in help file",
                         maxNestDepth);
            else
                ++depth;
        } else if (tagName == QLatin1String("/ul")) {
            if (depth > rootOffset)
                --depth;
        }
    }
    return true;
}

int LCHMFileImpl::findStringInQuotes(const QString& tag, int start, QString& value, bool firstQuote,
                                     bool decodeEntities)
{
    value.clear();

    // Only double quotes delimit here. A negative start would search from the end.
    const qsizetype open = tag.indexOf(QLatin1Char('"'), qMax(start, 0));
    if (open < 0) {
        qWarning("LCHMFileImpl::findStringInQuotes: cannot find first quote in <param> tag: '%s'", qPrintable(tag));
        return -1;
    }
    const qsizetype close = firstQuote ? tag.indexOf(QLatin1Char('"'), open + 1) : tag.lastIndexOf(QLatin1Char('"'));
    if (close <= open || close >= INT_MAX) {
        qWarning("LCHMFileImpl::findStringInQuotes: cannot find last quote in <param> tag: '%s'", qPrintable(tag));
        return -1;
    }

    if (!decodeEntities) {
        value = tag.mid(open + 1, close - open - 1);
        return int(close + 1);
    }

    // "&name;" and "&#number;" are replaced by their text. An "&" that does not begin an
    // entity the table knows (no name, no ";" behind the name, an unknown name) stays
    // literal text, as browsers keep it: "AT&T Syntax" reads as written.
    const auto isEntityCharacter = [](QChar c) {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('#');
    };
    qsizetype i = open + 1;
    while (i < close) {
        const QChar c = tag.at(i);
        if (c == QLatin1Char('&')) {
            qsizetype end = i + 1;
            while (end < close && isEntityCharacter(tag.at(end)))
                ++end;
            if (end > i + 1 && end < close && tag.at(end) == QLatin1Char(';')) {
                const QString decoded = decodeEntity(tag.mid(i + 1, end - i - 1));
                if (!decoded.isNull()) {
                    value.append(decoded);
                    i = end + 1;
                    continue;
                }
            }
        }
        value.append(c);
        ++i;
    }
    return int(close + 1);
}

QString LCHMFileImpl::decodeEntity(const QString& entity)
{
    if (entityMap.isEmpty())
        fillEntityMap();

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
    } else {
        const auto it = entityMap.constFind(entity);
        if (it != entityMap.constEnd())
            return it.value();
    }
    qWarning("LCHMFileImpl::decodeEntity: could not decode HTML entity '%s'", qPrintable(entity));
    return QString();
}

void LCHMFileImpl::fillEntityMap()
{
    // The Latin-1 names stand for bytes of the book's own code page.
    static const struct { const char* name; unsigned char byte; } codePageEntities[] = {
        { "AElig", 0xC6 }, { "Aacute", 0xC1 }, { "Acirc", 0xC2 }, { "Agrave", 0xC0 }, { "Aring", 0xC5 },
        { "Atilde", 0xC3 }, { "Auml", 0xC4 }, { "Ccedil", 0xC7 }, { "Dstrok", 0xD0 }, { "ETH", 0xD0 },
        { "Eacute", 0xC9 }, { "Ecirc", 0xCA }, { "Egrave", 0xC8 }, { "Euml", 0xCB }, { "Iacute", 0xCD },
        { "Icirc", 0xCE }, { "Igrave", 0xCC }, { "Iuml", 0xCF }, { "Ntilde", 0xD1 }, { "Oacute", 0xD3 },
        { "Ocirc", 0xD4 }, { "Ograve", 0xD2 }, { "Oslash", 0xD8 }, { "Otilde", 0xD5 }, { "Ouml", 0xD6 },
        { "THORN", 0xDE }, { "Uacute", 0xDA }, { "Ucirc", 0xDB }, { "Ugrave", 0xD9 }, { "Uuml", 0xDC },
        { "Yacute", 0xDD }, { "aacute", 0xE1 }, { "acirc", 0xE2 }, { "aelig", 0xE6 }, { "agrave", 0xE0 },
        { "aring", 0xE5 }, { "atilde", 0xE3 }, { "auml", 0xE4 }, { "ccedil", 0xE7 }, { "eacute", 0xE9 },
        { "ecirc", 0xEA }, { "egrave", 0xE8 }, { "eth", 0xF0 }, { "euml", 0xEB }, { "iacute", 0xED },
        { "icirc", 0xEE }, { "igrave", 0xEC }, { "iuml", 0xEF }, { "ntilde", 0xF1 }, { "oacute", 0xF3 },
        { "ocirc", 0xF4 }, { "ograve", 0xF2 }, { "oslash", 0xF8 }, { "otilde", 0xF5 }, { "ouml", 0xF6 },
        { "szlig", 0xDF }, { "thorn", 0xFE }, { "uacute", 0xFA }, { "ucirc", 0xFB }, { "ugrave", 0xF9 },
        { "uuml", 0xFC }, { "yacute", 0xFD }, { "yuml", 0xFF }, { "iexcl", 0xA1 }, { "cent", 0xA2 },
        { "pound", 0xA3 }, { "curren", 0xA4 }, { "yen", 0xA5 }, { "brvbar", 0xA6 }, { "sect", 0xA7 },
        { "uml", 0xA8 }, { "ordf", 0xAA }, { "laquo", 0xAB }, { "not", 0xAC }, { "shy", 0xAD },
        { "macr", 0xAF }, { "deg", 0xB0 }, { "plusmn", 0xB1 }, { "sup1", 0xB9 }, { "sup2", 0xB2 },
        { "sup3", 0xB3 }, { "acute", 0xB4 }, { "micro", 0xB5 }, { "para", 0xB6 }, { "middot", 0xB7 },
        { "cedil", 0xB8 }, { "ordm", 0xBA }, { "raquo", 0xBB }, { "frac14", 0xBC }, { "frac12", 0xBD },
        { "frac34", 0xBE }, { "iquest", 0xBF }, { "times", 0xD7 }, { "divide", 0xF7 }, { "copy", 0xA9 },
        { "reg", 0xAE }, { "nbsp", 0xA0 },
    };
    static const struct { const char* name; char16_t code; } characterEntities[] = {
        { "fnof", 0x0192 }, { "Delta", 0x0394 }, { "Pi", 0x03A0 }, { "Sigma", 0x03A3 }, { "beta", 0x03B2 },
        { "gamma", 0x03B3 }, { "delta", 0x03B4 }, { "eta", 0x03B7 }, { "theta", 0x03B8 }, { "lambda", 0x03BB },
        { "mu", 0x03BC }, { "nu", 0x03BD }, { "pi", 0x03C0 }, { "rho", 0x03C1 }, { "lsquo", 0x2018 },
        { "rsquo", 0x2019 }, { "rdquo", 0x201D }, { "bdquo", 0x201E }, { "trade", 0x2122 }, { "ldquo", 0x201C },
        { "ndash", 0x2013 }, { "mdash", 0x2014 }, { "bull", 0x2022 }, { "hellip", 0x2026 }, { "emsp", 0x2003 },
        { "rarr", 0x2192 }, { "rArr", 0x21D2 }, { "crarr", 0x21B5 }, { "le", 0x2264 }, { "ge", 0x2265 },
        { "dagger", 0x2020 }, { "Dagger", 0x2021 }, { "euro", 0x20AC }, { "asymp", 0x2248 }, { "isin", 0x2208 },
        { "notin", 0x2209 }, { "prod", 0x220F }, { "ne", 0x2260 }, { "OElig", 0x0152 }, { "oelig", 0x0153 },
        { "Scaron", 0x0160 }, { "lte", 0x2264 }, { "gte", 0x2265 },
    };
    static const struct { const char* name; const char* text; } asciiEntities[] = {
        { "amp", "&" }, { "gt", ">" }, { "lt", "<" }, { "quot", "\"" }, { "Prime", "\"" },
        { "apos", "'" }, { "frasl", "/" }, { "minus", "-" }, { "oplus", "+" },
    };

    for (const auto& e : codePageEntities) {
        QString text = decodeText(QByteArray(1, char(e.byte)));
        // A codec may turn a lone byte into nothing; the entity still exists and decodes
        // to empty text (a null value would read as "unknown entity").
        if (text.isNull())
            text = QStringLiteral("");
        entityMap.insert(QLatin1String(e.name), text);
    }
    for (const auto& e : characterEntities)
        entityMap.insert(QLatin1String(e.name), QString(QChar(e.code)));
    for (const auto& e : asciiEntities)
        entityMap.insert(QLatin1String(e.name), QLatin1String(e.text));
}

#include "textindex.h"

#include "lchmfile.h"
#include "searchquery.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>
#include <QTextCodec>
#include <QtEndian>

#include <algorithm>
#include <cstring>

Q_LOGGING_CATEGORY(lcTextIndex, "pagewick.book.textindex", QtInfoMsg)

namespace {

constexpr quint32 kNoWord = ~quint32(0);

// ---------------------------------------------------------------------------------------
// Page text

// Named entities beyond the numeric ones: the Latin-1 set in code order from U+00A0, and
// the others that help compilers' sources commonly use.
const char* const kLatin1Entities[96] = {
    "nbsp", "iexcl", "cent", "pound", "curren", "yen", "brvbar", "sect", "uml", "copy", "ordf",
    "laquo", "not", "shy", "reg", "macr", "deg", "plusmn", "sup2", "sup3", "acute", "micro",
    "para", "middot", "cedil", "sup1", "ordm", "raquo", "frac14", "frac12", "frac34", "iquest",
    "Agrave", "Aacute", "Acirc", "Atilde", "Auml", "Aring", "AElig", "Ccedil", "Egrave",
    "Eacute", "Ecirc", "Euml", "Igrave", "Iacute", "Icirc", "Iuml", "ETH", "Ntilde", "Ograve",
    "Oacute", "Ocirc", "Otilde", "Ouml", "times", "Oslash", "Ugrave", "Uacute", "Ucirc", "Uuml",
    "Yacute", "THORN", "szlig", "agrave", "aacute", "acirc", "atilde", "auml", "aring", "aelig",
    "ccedil", "egrave", "eacute", "ecirc", "euml", "igrave", "iacute", "icirc", "iuml", "eth",
    "ntilde", "ograve", "oacute", "ocirc", "otilde", "ouml", "divide", "oslash", "ugrave",
    "uacute", "ucirc", "uuml", "yacute", "thorn", "yuml"};

const QHash<QString, char32_t>& namedEntities()
{
    static const QHash<QString, char32_t> table = [] {
        QHash<QString, char32_t> t;
        for (int i = 0; i < 96; ++i)
            t.insert(QLatin1String(kLatin1Entities[i]), char32_t(0xA0 + i));
        const std::pair<const char*, char32_t> others[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''},
            {"OElig", 0x152}, {"oelig", 0x153}, {"Scaron", 0x160}, {"scaron", 0x161},
            {"Yuml", 0x178}, {"fnof", 0x192}, {"circ", 0x2C6}, {"tilde", 0x2DC},
            {"ensp", 0x2002}, {"emsp", 0x2003}, {"thinsp", 0x2009}, {"zwnj", 0x200C},
            {"zwj", 0x200D}, {"ndash", 0x2013}, {"mdash", 0x2014}, {"lsquo", 0x2018},
            {"rsquo", 0x2019}, {"sbquo", 0x201A}, {"ldquo", 0x201C}, {"rdquo", 0x201D},
            {"bdquo", 0x201E}, {"dagger", 0x2020}, {"Dagger", 0x2021}, {"bull", 0x2022},
            {"hellip", 0x2026}, {"permil", 0x2030}, {"lsaquo", 0x2039}, {"rsaquo", 0x203A},
            {"euro", 0x20AC}, {"trade", 0x2122}, {"larr", 0x2190}, {"uarr", 0x2191},
            {"rarr", 0x2192}, {"darr", 0x2193}};
        for (const auto& [name, code] : others)
            t.insert(QLatin1String(name), code);
        return t;
    }();
    return table;
}

void appendCodePoint(QString* out, char32_t code)
{
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    if (code >= 0x10000) {
        out->append(QChar::highSurrogate(code));
        out->append(QChar::lowSurrogate(code));
    } else {
        out->append(QChar(char16_t(code)));
    }
}

// Decodes the entity that starts at `s[i]` ("&"). Returns the index behind it, or i when
// the text there is no entity (the "&" is then text).
qsizetype decodeEntityAt(QStringView s, qsizetype i, QString* out)
{
    const qsizetype n = s.size();
    qsizetype j = i + 1;
    if (j < n && s.at(j) == QLatin1Char('#')) {
        ++j;
        const bool hex = j < n && (s.at(j) == QLatin1Char('x') || s.at(j) == QLatin1Char('X'));
        if (hex)
            ++j;
        const qsizetype digitsFrom = j;
        char32_t code = 0;
        while (j < n && j - digitsFrom < 8) {
            const char16_t c = s.at(j).unicode();
            int value = -1;
            if (c >= '0' && c <= '9')
                value = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                value = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                value = c - 'A' + 10;
            if (value < 0)
                break;
            code = code * (hex ? 16 : 10) + char32_t(value);
            ++j;
        }
        if (j == digitsFrom)
            return i;
        if (j < n && s.at(j) == QLatin1Char(';'))
            ++j;
        appendCodePoint(out, code);
        return j;
    }
    const qsizetype nameFrom = j;
    while (j < n && j - nameFrom < 10 && s.at(j).unicode() < 0x80 && s.at(j).isLetterOrNumber())
        ++j;
    if (j == nameFrom || j >= n || s.at(j) != QLatin1Char(';'))
        return i;
    const auto found = namedEntities().constFind(s.mid(nameFrom, j - nameFrom).toString());
    if (found == namedEntities().constEnd())
        return i;
    appendCodePoint(out, *found);
    return j + 1;
}

bool isWordChar(char32_t c)
{
    return c == '_' || QChar::isLetterOrNumber(c) || QChar::isMark(c);
}

// Calls `word` for every run of word characters (letters, digits, marks, "_") in `text`.
template <typename Word>
void forEachToken(const QString& text, Word&& word)
{
    const qsizetype n = text.size();
    qsizetype start = -1;
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text.at(i).unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            width = 2;
        }
        if (isWordChar(c)) {
            if (start < 0)
                start = i;
        } else if (start >= 0) {
            word(QStringView(text).mid(start, i - start));
            start = -1;
        }
        i += width - 1;
    }
    if (start >= 0)
        word(QStringView(text).mid(start));
}

// The codec a page declares: a byte-order mark, or a charset in its first bytes.
QTextCodec* declaredCodec(const QByteArray& html)
{
    if (html.startsWith("\xEF\xBB\xBF") || html.startsWith("\xFF\xFE") || html.startsWith("\xFE\xFF"))
        return QTextCodec::codecForUtfText(html);
    static const QRegularExpression charset(
        QStringLiteral("<meta[^>]*charset\\s*=\\s*[\"']?\\s*([-A-Za-z0-9_:.]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = charset.match(QString::fromLatin1(html.left(4096)));
    return m.hasMatch() ? QTextCodec::codecForName(m.captured(1).toLatin1()) : nullptr;
}

bool isHtmlPage(const QString& path)
{
    return path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".xhtml"), Qt::CaseInsensitive);
}

// ---------------------------------------------------------------------------------------
// Cache file: a header, then the pages, a word table sorted by key, the keys and every
// word's postings. It loads as it is, in one read: postings are read when a query asks.
//   "PWTXTIDX", version (4), book size (8), modification time (8), listing hash (20),
//   sizes of the pages (8), the word count (8), sizes of the keys (8) and of the
//   postings (8), truncated flag (4), hash of everything after the header (8)
//   pages: page count (4), per page path and title (length (4) + UTF-8)
//   word table: per word the end of its key in the keys and of its postings in the
//     postings (4 each); keys ascending, byte by byte, and distinct
//   postings, per page that holds the word: the page less the previous page less one, the
//     count less one, then the positions, each less the previous one less one (the first
//     page and position as they are); each number a little-endian base-128 varint
// All fixed-size numbers little-endian.

constexpr char kMagic[8] = {'P', 'W', 'T', 'X', 'T', 'I', 'D', 'X'};
constexpr quint32 kVersion = 3;
constexpr int kListingHashSize = 20;
constexpr qsizetype kHeaderSize = 8 + 4 + 8 + 8 + kListingHashSize + 8 + 8 + 8 + 8 + 4 + 8;
constexpr qsizetype kEntrySize = 8;

// Four independent lanes of 8 bytes each, so that the multiplications of one lane do not
// wait for another's: the hash of a large cache file costs little more than reading it.
quint64 payloadHash(const char* data, qsizetype size)
{
    quint64 lanes[4] = {0x9E3779B97F4A7C15ull ^ quint64(size), 0xC2B2AE3D27D4EB4Full,
                        0x165667B19E3779F9ull, 0x27D4EB2F165667C5ull};
    qsizetype i = 0;
    for (; i + 32 <= size; i += 32) {
        for (int l = 0; l < 4; ++l) {
            quint64 w;
            std::memcpy(&w, data + i + 8 * l, 8);
            lanes[l] = (lanes[l] ^ w) * 0xFF51AFD7ED558CCDull;
            lanes[l] ^= lanes[l] >> 32;
        }
    }
    quint64 h = lanes[0];
    for (int l = 1; l < 4; ++l)
        h = (h ^ lanes[l]) * 0xFF51AFD7ED558CCDull;
    for (; i < size; ++i)
        h = (h ^ quint8(data[i])) * 0x100000001B3ull;
    return h ^ (h >> 29);
}

void putVarint(QByteArray* out, quint32 v)
{
    while (v >= 0x80) {
        out->append(char(v | 0x80));
        v >>= 7;
    }
    out->append(char(v));
}

// Reads a varint of at most 32 bits at `p`; false when it runs past `end` or beyond 32 bits.
bool getVarint(const uchar*& p, const uchar* end, quint32* v)
{
    quint64 x = 0;
    for (int shift = 0; shift < 35; shift += 7) {
        if (p == end)
            return false;
        const uchar b = *p++;
        x |= quint64(b & 0x7F) << shift;
        if (!(b & 0x80)) {
            if (x > 0xFFFFFFFFull)
                return false;
            *v = quint32(x);
            return true;
        }
    }
    return false;
}

// Keys compare byte by byte as unsigned, a prefix before the longer key.
int compareKeys(const char* a, qsizetype aSize, const char* b, qsizetype bSize)
{
    const int c = std::memcmp(a, b, size_t(std::min(aSize, bSize)));
    return c != 0 ? c : (aSize < bSize ? -1 : aSize > bSize ? 1 : 0);
}

void putU32(QByteArray* out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out->append(b, 4);
}

void putU64(QByteArray* out, quint64 v)
{
    char b[8];
    qToLittleEndian(v, b);
    out->append(b, 8);
}

void putString(QByteArray* out, const QString& s)
{
    const QByteArray utf8 = s.toUtf8();
    putU32(out, quint32(utf8.size()));
    out->append(utf8);
}

// Reads inside the bytes given; once a read runs past them, every later read fails too.
class CacheReader
{
public:
    CacheReader(const char* data, qsizetype size) : m_data(data), m_left(size) {}
    bool ok() const { return m_ok; }
    qsizetype left() const { return m_left; }
    quint8 u8() { return take(1) ? quint8(m_data[-1]) : 0; }
    quint32 u32() { return take(4) ? qFromLittleEndian<quint32>(m_data - 4) : 0; }
    quint64 u64() { return take(8) ? qFromLittleEndian<quint64>(m_data - 8) : 0; }
    const char* bytes(qsizetype n) { return take(n) ? m_data - n : nullptr; }
    QString string()
    {
        const quint32 n = u32();
        const char* p = bytes(n);
        return p ? QString::fromUtf8(p, n) : QString();
    }

private:
    bool take(qsizetype n)
    {
        if (!m_ok || n < 0 || n > m_left) {
            m_ok = false;
            return false;
        }
        m_data += n;
        m_left -= n;
        return true;
    }
    const char* m_data;
    qsizetype m_left;
    bool m_ok = true;
};

} // namespace

// Walks one word's postings page by page, in a built index or a loaded file. A loaded file's
// postings are checked as they are read: pages ascending and known, counts that the bytes
// left can hold, positions within 32 bits; anything else ends the walk and sets bad().
class PostingsCursor
{
public:
    PostingsCursor(const TextIndex::PostingsRef& ref, quint32 pages) : m_ref(ref), m_p(ref.bytes), m_pages(pages) {}

    bool bad() const { return m_bad; }

    // The next page that holds the word and the number of its positions there.
    bool nextPage(quint32* page, quint32* count)
    {
        if (!m_ref.bytes) {
            if (m_i + 1 >= m_ref.size)
                return false;
            *page = m_ref.numbers[m_i];
            *count = quint32(std::min<size_t>(m_ref.numbers[m_i + 1], m_ref.size - m_i - 2));
            m_i += 2;
            return true;
        }
        if (m_p == m_ref.bytesEnd)
            return false;
        quint32 delta = 0, less = 0;
        if (!getVarint(m_p, m_ref.bytesEnd, &delta) || !getVarint(m_p, m_ref.bytesEnd, &less))
            return fail();
        const qint64 next = m_previousPage + 1 + qint64(delta);
        if (next >= qint64(m_pages) || qint64(less) >= m_ref.bytesEnd - m_p)
            return fail();
        m_previousPage = next;
        *page = quint32(next);
        *count = less + 1;
        return true;
    }

    // The page's positions, ascending.
    bool readPositions(quint32 count, std::vector<quint32>* out)
    {
        out->clear();
        if (!m_ref.bytes) {
            out->assign(m_ref.numbers + m_i, m_ref.numbers + m_i + count);
            m_i += count;
            return true;
        }
        out->reserve(count);
        qint64 previous = -1;
        for (quint32 k = 0; k < count; ++k) {
            quint32 delta = 0;
            if (!getVarint(m_p, m_ref.bytesEnd, &delta))
                return fail();
            previous += 1 + qint64(delta);
            if (previous > qint64(0xFFFFFFFF))
                return fail();
            out->push_back(quint32(previous));
        }
        return true;
    }

    bool skipPositions(quint32 count)
    {
        if (!m_ref.bytes) {
            m_i += count;
            return true;
        }
        while (count > 0) {
            if (m_p == m_ref.bytesEnd)
                return fail();
            if (!(*m_p++ & 0x80))
                --count;
        }
        return true;
    }

private:
    bool fail()
    {
        m_bad = true;
        m_p = m_ref.bytesEnd;
        return false;
    }

    TextIndex::PostingsRef m_ref;
    const uchar* m_p;
    size_t m_i = 0;
    qint64 m_previousPage = -1;
    const quint32 m_pages;
    bool m_bad = false;
};

// The index as a store of words for the query evaluator. Query words split at "." as page
// text does; each piece is folded by the book as the index's words were, after Unicode
// lower-casing (the book's folding works on bytes, and misses the capitals of some scripts).
class TextIndexSource : public SearchWordSource
{
public:
    TextIndexSource(const TextIndex& index, LCHMFile& book) : m_index(index), m_book(book) {}

    QVector<QByteArray> searchKeys(const QString& word) const override
    {
        QVector<QByteArray> keys;
        for (const QString& piece : word.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
            const QVector<QByteArray> pieceKeys = m_book.searchKeys(piece.toLower());
            if (pieceKeys.isEmpty())
                return {};
            keys += pieceKeys;
        }
        return keys;
    }

    bool lookupKey(const QByteArray& key, bool positions, SearchHitList* hits) override
    {
        TextIndex::PostingsRef ref;
        if (!m_index.postingsOf(key, &ref))
            return false;
        const qsizetype before = hits->size();
        PostingsCursor cursor(ref, quint32(m_index.pageCount()));
        quint32 page = 0, count = 0;
        while (cursor.nextPage(&page, &count)) {
            SearchHit hit;
            hit.urlOffset = page;
            if (positions) {
                if (!cursor.readPositions(count, &m_positions))
                    break;
                hit.locations.reserve(qsizetype(m_positions.size()));
                for (quint32 position : m_positions)
                    hit.locations.append(position);
            } else if (!cursor.skipPositions(count)) {
                break;
            }
            hits->append(std::move(hit));
        }
        if (cursor.bad()) {
            hits->resize(before);
            return false;
        }
        return true;
    }

    qint64 keyCost(const QByteArray& key) override
    {
        TextIndex::PostingsRef ref;
        if (!m_index.postingsOf(key, &ref))
            return -1;
        return ref.bytes ? qint64(ref.bytesEnd - ref.bytes) : qint64(ref.size) * 4;
    }

    // Walks the key's postings once, alongside the topics of `working` (in page order), and
    // reads positions only in those topics.
    bool keepWhereKeyAt(const QByteArray& key, quint64 offset, SearchHitList* working) override
    {
        const bool ascending = std::adjacent_find(working->cbegin(), working->cend(),
            [](const SearchHit& a, const SearchHit& b) { return a.urlOffset >= b.urlOffset; }) == working->cend();
        if (!ascending)
            return SearchWordSource::keepWhereKeyAt(key, offset, working);
        TextIndex::PostingsRef ref;
        if (!m_index.postingsOf(key, &ref))
            return false;
        PostingsCursor cursor(ref, quint32(m_index.pageCount()));
        SearchHitList kept;
        kept.reserve(working->size());
        qsizetype w = 0;
        quint32 page = 0, count = 0;
        while (w < working->size() && cursor.nextPage(&page, &count)) {
            while (w < working->size() && working->at(w).urlOffset < page)
                ++w;   // a topic without the key
            if (w == working->size())
                break;
            if (working->at(w).urlOffset != page) {
                if (!cursor.skipPositions(count))
                    break;
                continue;
            }
            if (!cursor.readPositions(count, &m_positions))
                break;
            SearchHit& hit = (*working)[w++];
            hit.locations.removeIf([this, offset](quint64 start) {
                return !std::binary_search(m_positions.cbegin(), m_positions.cend(), start + offset);
            });
            if (!hit.locations.isEmpty())
                kept.append(std::move(hit));
        }
        if (cursor.bad())
            return false;
        *working = std::move(kept);
        return true;
    }

private:
    const TextIndex& m_index;
    LCHMFile& m_book;
    std::vector<quint32> m_positions;
};

QStringList TextIndex::htmlPages(LCHMFile& book)
{
    QStringList files;
    book.listFiles(&files);
    QStringList pages;
    for (const QString& file : std::as_const(files)) {
        if (isHtmlPage(file))
            pages.append(file);
    }
    return pages;
}

PageText TextIndex::pageText(LCHMFile& book, const QByteArray& html)
{
    QTextCodec* codec = declaredCodec(html);
    const QString s = codec ? codec->toUnicode(html) : book.decodeText(html);

    PageText out;
    QString* target = &out.body;
    const qsizetype n = s.size();
    const auto full = [&out]() { return out.title.size() + out.body.size() >= MaxPageText; };
    qsizetype i = 0;
    while (i < n && !full()) {
        const QChar c = s.at(i);
        if (c == QLatin1Char('&')) {
            const qsizetype next = decodeEntityAt(s, i, target);
            if (next != i) {
                i = next;
                continue;
            }
        }
        if (c != QLatin1Char('<')) {
            // Plain text up to the next tag or entity.
            qsizetype j = i + 1;
            while (j < n && s.at(j) != QLatin1Char('<') && s.at(j) != QLatin1Char('&'))
                ++j;
            target->append(QStringView(s).mid(i, std::min(j - i, MaxPageText)));
            i = j;
            continue;
        }
        if (QStringView(s).mid(i, 4) == QLatin1String("<!--")) {
            const qsizetype end = s.indexOf(QLatin1String("-->"), i + 4);
            i = end < 0 ? n : end + 3;
            target->append(QLatin1Char(' '));
            continue;
        }
        qsizetype j = i + 1;
        const bool closing = j < n && s.at(j) == QLatin1Char('/');
        if (closing)
            ++j;
        qsizetype k = j;
        while (k < n && k - j < 16 && s.at(k).unicode() < 0x80 && s.at(k).isLetterOrNumber())
            ++k;
        const bool markup = k > j || (j < n && (s.at(j) == QLatin1Char('!') || s.at(j) == QLatin1Char('?')));
        if (!markup) {
            target->append(c);   // a "<" in text
            ++i;
            continue;
        }
        const QStringView name = QStringView(s).mid(j, k - j);
        const qsizetype end = s.indexOf(QLatin1Char('>'), k);
        if (end < 0)
            break;
        i = end + 1;
        target->append(QLatin1Char(' '));   // tags end words
        if (!closing && (name.compare(QLatin1String("script"), Qt::CaseInsensitive) == 0
                         || name.compare(QLatin1String("style"), Qt::CaseInsensitive) == 0)) {
            const qsizetype close = s.indexOf(QLatin1String("</") + name.toString(), i, Qt::CaseInsensitive);
            const qsizetype closeEnd = close < 0 ? -1 : s.indexOf(QLatin1Char('>'), close);
            i = closeEnd < 0 ? n : closeEnd + 1;
        } else if (name.compare(QLatin1String("title"), Qt::CaseInsensitive) == 0) {
            target = closing ? &out.body : &out.title;
        }
    }
    if (out.title.size() + out.body.size() > MaxPageText)
        out.body.truncate(std::max<qsizetype>(0, MaxPageText - out.title.size()));
    out.title = out.title.simplified();
    return out;
}

bool TextIndex::bookIndexCoversPages(LCHMFile& book)
{
    if (!book.hasSearchWords())
        return false;
    const QStringList pages = htmlPages(book);
    constexpr int kSamplePages = 16;
    constexpr int kWordsPerPage = 4;
    constexpr int kEnoughWords = 3;
    const qsizetype step = std::max<qsizetype>(1, pages.size() / kSamplePages);
    int tried = 0, found = 0;
    for (qsizetype p = 0; p < pages.size(); p += step) {
        const QString& path = pages.at(p);
        QByteArray html;
        if (!book.readFileBytes(&html, path))
            continue;
        const PageText text = pageText(book, html);
        const QString titles = text.title + QLatin1Char(' ') + book.topicTitleForUrl(path);
        QSet<QString> titleWords;
        forEachToken(titles, [&titleWords](QStringView t) { titleWords.insert(t.toString().toLower()); });
        QSet<QString> chosen;
        forEachToken(text.body, [&](QStringView token) {
            if (chosen.size() >= kWordsPerPage)
                return;
            // Indexes of ideographic scripts differ in how they cut a run of characters
            // into words, but all of them hold its characters: a character that no title
            // holds stands for the run. Other words are taken whole.
            QString word = token.toString().toLower();
            if (word.at(0).unicode() >= 0x2E80) {
                const auto fresh = std::find_if(word.cbegin(), word.cend(), [&titles](QChar c) {
                    return c.unicode() >= 0x2E80 && !c.isSurrogate() && !titles.contains(c);
                });
                if (fresh == word.cend())
                    return;
                chosen.insert(QString(*fresh));
                return;
            }
            if (word.size() < 3 || word.size() > 24 || word.at(0).isDigit() || titleWords.contains(word))
                return;
            chosen.insert(word);
        });
        for (const QString& word : std::as_const(chosen)) {
            QStringList results;
            book.fullTextSearch(word, &results, 700);
            ++tried;
            if (results.contains(path) || results.size() >= 700)
                ++found;
            else
                qCDebug(lcTextIndex) << "not in the book's index:" << word << path;
        }
    }
    if (tried < kEnoughWords)
        return true;   // too little text to judge by: the book's index is kept
    qCDebug(lcTextIndex) << "book index holds" << found << "of" << tried << "sampled page words";
    return found * 2 >= tried;
}

TextIndex::BookIdentity TextIndex::identityOf(LCHMFile& book, const QString& path)
{
    BookIdentity identity;
    const QFileInfo info(path);
    identity.size = info.size();
    identity.modified = info.lastModified().toMSecsSinceEpoch();
    QStringList files;
    book.listFiles(&files);
    identity.listingHash = QCryptographicHash::hash(files.join(QLatin1Char('\n')).toUtf8(),
                                                    QCryptographicHash::Sha1);
    return identity;
}

QString TextIndex::cacheFile(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath().isEmpty() ? info.absoluteFilePath()
                                                                 : info.canonicalFilePath();
    const QByteArray name = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation)
         + QLatin1String("/text-index/") + QString::fromLatin1(name) + QLatin1String(".idx");
}

void TextIndex::clear()
{
    *this = TextIndex();
}

void TextIndex::addPage(LCHMFile& book, const QString& path)
{
    QByteArray html;
    book.readFileBytes(&html, path);
    addPageText(path, pageText(book, html), book);
}

void TextIndex::addPageText(const QString& path, const PageText& text, LCHMFile& book)
{
    const quint32 page = quint32(m_paths.size());
    m_paths.append(path);
    m_titles.append(text.title);
    m_pageOfPath.insert(path, int(page));
    quint32 position = 0;
    addText(page, text.title, &position, book);
    ++position;   // a gap: no phrase runs from the title into the body
    addText(page, text.body, &position, book);
}

const std::vector<quint32>& TextIndex::wordIds(QStringView token, LCHMFile& book)
{
    auto cached = m_tokenCache.constFind(token);
    if (cached != m_tokenCache.constEnd())
        return *cached;
    if (m_tokenCache.size() > 200000) {
        m_tokenCache.clear();
        m_tokenTexts.clear();
    }

    std::vector<quint32> ids;
    for (const QByteArray& key : book.searchKeys(token.toString().toLower())) {
        if (key.isEmpty() || key.size() > MaxKeyBytes) {
            ids.push_back(kNoWord);
            continue;
        }
        auto found = m_wordIds.constFind(key);
        if (found != m_wordIds.constEnd()) {
            ids.push_back(*found);
        } else if (m_wordIds.size() >= MaxDistinctWords) {
            m_truncated = true;
            ids.push_back(kNoWord);
        } else {
            const quint32 id = quint32(m_postings.size());
            m_wordIds.insert(key, id);
            m_keys.push_back(key);
            m_postings.emplace_back();
            ids.push_back(id);
        }
    }
    m_tokenTexts.push_back(token.toString());
    return *m_tokenCache.insert(QStringView(m_tokenTexts.back()), std::move(ids));
}

void TextIndex::addText(quint32 page, const QString& text, quint32* position, LCHMFile& book)
{
    forEachToken(text, [&](QStringView run) {
        if (m_truncated && m_positions >= MaxPositions)
            return;
        for (quint32 id : wordIds(run, book)) {
            if (id != kNoWord)
                addPosition(id, page, *position);
            ++*position;
        }
    });
}

void TextIndex::addPosition(quint32 word, quint32 page, quint32 position)
{
    if (m_positions >= MaxPositions) {
        m_truncated = true;
        return;
    }
    Postings& p = m_postings[word];
    if (p.lastPage != page) {
        p.data.push_back(page);
        p.countAt = p.data.size();
        p.data.push_back(0);
        p.lastPage = page;
    }
    p.data.push_back(position);
    ++p.data[p.countAt];
    ++m_positions;
}

const uchar* TextIndex::loadedEntry(quint32 word) const
{
    return reinterpret_cast<const uchar*>(m_file.constData()) + m_entriesAt + qsizetype(word) * kEntrySize;
}

bool TextIndex::postingsOf(const QByteArray& key, PostingsRef* ref) const
{
    if (!isLoaded()) {
        const auto found = m_wordIds.constFind(key);
        if (found == m_wordIds.constEnd())
            return false;
        const std::vector<quint32>& data = m_postings[*found].data;
        ref->numbers = data.data();
        ref->size = data.size();
        return true;
    }
    // The table was checked on load: ends ascending and within their sections.
    const char* keys = m_file.constData() + m_keysAt;
    const auto keyEnd = [this](quint32 w) { return w == 0 ? 0 : qFromLittleEndian<quint32>(loadedEntry(w - 1)); };
    quint32 low = 0, high = m_loadedWords;
    while (low < high) {
        const quint32 mid = low + (high - low) / 2;
        const quint32 from = keyEnd(mid);
        const int c = compareKeys(keys + from, qFromLittleEndian<quint32>(loadedEntry(mid)) - from,
                                  key.constData(), key.size());
        if (c == 0) {
            const quint32 postingsFrom = mid == 0 ? 0 : qFromLittleEndian<quint32>(loadedEntry(mid - 1) + 4);
            const auto* postings = reinterpret_cast<const uchar*>(m_file.constData()) + m_postingsAt;
            ref->bytes = postings + postingsFrom;
            ref->bytesEnd = postings + qFromLittleEndian<quint32>(loadedEntry(mid) + 4);
            return true;
        }
        if (c < 0)
            low = mid + 1;
        else
            high = mid;
    }
    return false;
}

void TextIndex::finishBuild()
{
    m_tokenCache = {};
    m_tokenTexts = {};
    for (Postings& p : m_postings)
        p.data.shrink_to_fit();
}

QString TextIndex::pageTitle(const QString& path) const
{
    const int page = m_pageOfPath.value(path, -1);
    return page >= 0 ? m_titles.at(page) : QString();
}

bool TextIndex::search(LCHMFile& book, const QString& query, QStringList* results, int limit) const
{
    if (!results)
        return false;
    TextIndexSource source(*this, book);
    SearchHitList hits;
    if (!SearchQuery::evaluate(source, query, &hits))
        return false;
    QSet<quint32> seen;
    for (const SearchHit& hit : std::as_const(hits)) {
        if (results->size() >= limit)
            break;
        if (hit.urlOffset < quint32(m_paths.size()) && !seen.contains(hit.urlOffset)) {
            seen.insert(hit.urlOffset);
            results->append(m_paths.at(hit.urlOffset));
        }
    }
    return true;
}

bool TextIndex::save(const QString& file, const BookIdentity& identity) const
{
    QByteArray pages;
    putU32(&pages, quint32(m_paths.size()));
    for (qsizetype i = 0; i < m_paths.size(); ++i) {
        putString(&pages, m_paths.at(i));
        putString(&pages, m_titles.at(i));
    }

    // The words in key order, each with its postings.
    std::vector<std::pair<QByteArray, PostingsRef>> words;
    if (isLoaded()) {
        const char* keys = m_file.constData() + m_keysAt;
        quint32 from = 0;
        for (quint32 w = 0; w < m_loadedWords; ++w) {
            const quint32 to = qFromLittleEndian<quint32>(loadedEntry(w));
            PostingsRef ref;
            postingsOf(QByteArray(keys + from, to - from), &ref);
            words.emplace_back(QByteArray(keys + from, to - from), ref);
            from = to;
        }
    } else {
        words.reserve(m_postings.size());
        for (size_t w = 0; w < m_postings.size(); ++w) {
            PostingsRef ref;
            ref.numbers = m_postings[w].data.data();
            ref.size = m_postings[w].data.size();
            words.emplace_back(m_keys[w], ref);
        }
        std::sort(words.begin(), words.end(), [](const auto& a, const auto& b) {
            return compareKeys(a.first.constData(), a.first.size(), b.first.constData(), b.first.size()) < 0;
        });
    }

    QByteArray table, keys, postings;
    table.reserve(qsizetype(words.size()) * kEntrySize);
    std::vector<quint32> positions;
    for (const auto& [key, ref] : words) {
        PostingsCursor cursor(ref, quint32(m_paths.size()));
        qint64 previousPage = -1;
        quint32 page = 0, count = 0;
        while (cursor.nextPage(&page, &count) && cursor.readPositions(count, &positions)) {
            if (positions.empty())
                continue;
            putVarint(&postings, quint32(page - previousPage - 1));
            putVarint(&postings, quint32(positions.size() - 1));
            previousPage = page;
            qint64 previous = -1;
            for (quint32 position : positions) {
                putVarint(&postings, quint32(position - previous - 1));
                previous = position;
            }
        }
        keys.append(key);
        if (cursor.bad() || kHeaderSize + pages.size() + table.size() + keys.size() + postings.size() > MaxCacheBytes)
            return false;
        putU32(&table, quint32(keys.size()));
        putU32(&table, quint32(postings.size()));
    }

    QByteArray payload = pages + table + keys + postings;
    QByteArray header(kMagic, 8);
    putU32(&header, kVersion);
    putU64(&header, quint64(identity.size));
    putU64(&header, quint64(identity.modified));
    header.append(identity.listingHash.leftJustified(kListingHashSize, '\0', true));
    putU64(&header, quint64(pages.size()));
    putU64(&header, quint64(words.size()));
    putU64(&header, quint64(keys.size()));
    putU64(&header, quint64(postings.size()));
    putU32(&header, m_truncated ? 1 : 0);
    putU64(&header, payloadHash(payload.constData(), payload.size()));

    QDir().mkpath(QFileInfo(file).absolutePath());
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(header) != header.size()
        || out.write(payload) != payload.size() || !out.commit()) {
        qCWarning(lcTextIndex) << "cannot write the text index cache" << file << out.errorString();
        return false;
    }
    return true;
}

bool TextIndex::load(const QString& file, const BookIdentity& identity)
{
    clear();
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || in.size() < kHeaderSize
        || in.size() > MaxCacheBytes)
        return false;
    // The whole file in one read, straight into the array that then serves the queries.
    QByteArray bytes(in.size(), Qt::Uninitialized);
    if (in.read(bytes.data(), bytes.size()) != bytes.size())
        return false;
    if (bytes.size() < kHeaderSize || !bytes.startsWith(QByteArrayView(kMagic, 8)))
        return false;
    CacheReader header(bytes.constData() + 8, kHeaderSize - 8);
    if (header.u32() != kVersion)
        return false;
    BookIdentity stamped;
    stamped.size = qint64(header.u64());
    stamped.modified = qint64(header.u64());
    if (const char* listing = header.bytes(kListingHashSize))
        stamped.listingHash = QByteArray(listing, kListingHashSize);
    const quint64 pagesSize = header.u64();
    const quint64 words = header.u64();
    const quint64 keysSize = header.u64();
    const quint64 postingsSize = header.u64();
    const quint32 truncated = header.u32();
    const quint64 hash = header.u64();
    const QByteArray expectedHash = identity.listingHash.leftJustified(kListingHashSize, '\0', true);
    if (!header.ok() || stamped.size != identity.size || stamped.modified != identity.modified
        || stamped.listingHash != expectedHash) {
        qCDebug(lcTextIndex) << "text index cache does not match the book:" << file;
        return false;
    }
    // Every size is bounded by the file's size, which is bounded itself.
    const quint64 rest = quint64(bytes.size() - kHeaderSize);
    if (pagesSize > rest || words > quint64(MaxDistinctWords) || keysSize > rest || postingsSize > rest
        || pagesSize + words * kEntrySize + keysSize + postingsSize != rest || truncated > 1
        || payloadHash(bytes.constData() + kHeaderSize, qsizetype(rest)) != hash) {
        qCDebug(lcTextIndex) << "text index cache is damaged:" << file;
        return false;
    }

    // The hash guards against damage, the checks below against a file that was written
    // wrong: every count and end is held against the bytes there are. Postings are checked
    // when they are read.
    const auto malformed = [this, &file]() {
        qCDebug(lcTextIndex) << "text index cache is malformed:" << file;
        clear();
        return false;
    };
    CacheReader r(bytes.constData() + kHeaderSize, qsizetype(pagesSize));
    const quint32 pages = r.u32();
    if (qint64(pages) * 8 > r.left())
        return malformed();
    m_paths.reserve(pages);
    m_titles.reserve(pages);
    m_pageOfPath.reserve(pages);
    for (quint32 i = 0; i < pages && r.ok(); ++i) {
        const QString path = r.string();
        m_titles.append(r.string());
        m_pageOfPath.insert(path, int(i));
        m_paths.append(path);
    }
    if (!r.ok() || r.left() != 0)
        return malformed();

    const qsizetype entriesAt = kHeaderSize + qsizetype(pagesSize);
    const qsizetype keysAt = entriesAt + qsizetype(words) * kEntrySize;
    const uchar* entry = reinterpret_cast<const uchar*>(bytes.constData()) + entriesAt;
    const char* keys = bytes.constData() + keysAt;
    quint32 keyFrom = 0, postingsFrom = 0;
    const char* previousKey = nullptr;
    qsizetype previousSize = 0;
    for (quint64 w = 0; w < words; ++w, entry += kEntrySize) {
        const quint32 keyTo = qFromLittleEndian<quint32>(entry);
        const quint32 postingsTo = qFromLittleEndian<quint32>(entry + 4);
        if (keyTo <= keyFrom || keyTo - keyFrom > quint32(MaxKeyBytes) || keyTo > keysSize
            || postingsTo < postingsFrom || postingsTo > postingsSize)
            return malformed();
        const char* key = keys + keyFrom;
        const qsizetype keySize = qsizetype(keyTo - keyFrom);
        if (previousKey && compareKeys(previousKey, previousSize, key, keySize) >= 0)
            return malformed();   // keys out of order, or twice
        previousKey = key;
        previousSize = keySize;
        keyFrom = keyTo;
        postingsFrom = postingsTo;
    }
    if (keyFrom != keysSize || postingsFrom != postingsSize)
        return malformed();

    m_file = std::move(bytes);
    m_entriesAt = entriesAt;
    m_keysAt = keysAt;
    m_postingsAt = keysAt + qsizetype(keysSize);
    m_loadedWords = quint32(words);
    m_truncated = truncated != 0;
    return true;
}

// ---------------------------------------------------------------------------------------

TextIndexJob::TextIndexJob(const QString& bookPath, const QString& cacheFile)
    : m_bookPath(bookPath), m_cacheFile(cacheFile)
{
}

void TextIndexJob::run(const CancelToken& token, const std::function<void(int done, int total)>& progress)
{
    LCHMFile book;
    if (token.isCancelled() || !book.openBook(m_bookPath)) {
        m_total = 0;
        m_finished = true;
        return;
    }
    const TextIndex::BookIdentity identity = TextIndex::identityOf(book, m_bookPath);
    TextIndex cached;
    if (!m_cacheFile.isEmpty() && cached.load(m_cacheFile, identity)) {
        QMutexLocker lock(&m_mutex);
        m_index = std::move(cached);
        m_total = m_index.pageCount();
        m_done = m_index.pageCount();
        m_fromCache = true;
        m_finished = true;
        return;
    }

    const QStringList pages = TextIndex::htmlPages(book);
    m_total = int(pages.size());
    for (const QString& path : pages) {
        if (token.isCancelled())
            return;   // an index of part of the book is never cached
        QByteArray html;
        book.readFileBytes(&html, path);
        const PageText text = TextIndex::pageText(book, html);
        QMutexLocker lock(&m_mutex);
        m_index.addPageText(path, text, book);
        ++m_done;
        lock.unlock();
        if (progress)
            progress(m_done, m_total);
    }
    {
        QMutexLocker lock(&m_mutex);
        m_index.finishBuild();
    }
    if (!m_cacheFile.isEmpty())
        m_index.save(m_cacheFile, identity);   // the index no longer changes: no lock needed
    m_finished = true;
}

bool TextIndexJob::search(LCHMFile& book, const QString& query, QStringList* results, int limit) const
{
    QMutexLocker lock(&m_mutex);
    return m_index.search(book, query, results, limit);
}

QString TextIndexJob::pageTitle(const QString& path) const
{
    QMutexLocker lock(&m_mutex);
    return m_index.pageTitle(path);
}

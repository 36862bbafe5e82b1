// HTML to page text: what the reader's text index reads of a page.

#include "htmlentities.h"
#include "lchmfile.h"
#include "pagetext.h"
#include "textindex.h"

#include <QRegularExpression>
#include <QTextCodec>

#include <algorithm>

namespace {

// A code point that is no character (zero, a surrogate, beyond Unicode) reads as U+FFFD.
void appendCodePoint(QString* out, char32_t code)
{
    const bool character = code != 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    out->append(QChar::fromUcs4(character ? code : 0xFFFD));
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
    const char32_t code = HtmlEntities::codePoint(s.mid(nameFrom, j - nameFrom));
    if (code == 0)
        return i;
    appendCodePoint(out, code);
    return j + 1;
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
} // namespace

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

// A query's terms found in page text, and the snippet of text around the first of them.

#include "querymatcher.h"

#include "lchmfile.h"
#include "pagetext.h"
#include "searchquery.h"
#include "textindex.h"

#include <QBitArray>

#include <algorithm>
#include <deque>
#include <limits>

namespace {

// Characters of the scripts written without spaces between words: each one is a word of its
// own for the index, so a snippet may be cut beside any of them.
bool isIdeograph(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x2E80 && u < 0xA000) || (u >= 0xF900 && u < 0xFB00) || (u >= 0xFF00 && u < 0xFFF0);
}

// Whether a snippet may begin or end at `i`: between a word and what is not, or beside an
// ideograph, never inside a surrogate pair.
bool isBoundary(const QString& text, qsizetype i)
{
    if (i <= 0 || i >= text.size())
        return true;
    const QChar before = text.at(i - 1);
    const QChar after = text.at(i);
    if (after.isLowSurrogate())
        return false;
    return !isWordChar(before.unicode()) || !isWordChar(after.unicode()) || isIdeograph(before) || isIdeograph(after);
}

// Where a line of `length` characters that starts at `from` ends, a run of white space counting
// as the one space it becomes.
qsizetype lineEnd(const QString& text, qsizetype from, qsizetype length)
{
    qsizetype i = from;
    bool space = false;
    for (qsizetype counted = 0; i < text.size() && counted < length; ++i) {
        const bool isSpace = text.at(i).isSpace();
        if (!isSpace || !space)
            ++counted;
        space = isSpace;
    }
    return i;
}

} // namespace

QString SearchSnippet::toHtml() const
{
    QString html;
    qsizetype at = 0;
    for (const auto& [start, end] : bold) {
        html += QStringView(text).mid(at, start - at).toString().toHtmlEscaped();
        html += QLatin1String("<b>") + QStringView(text).mid(start, end - start).toString().toHtmlEscaped()
            + QLatin1String("</b>");
        at = end;
    }
    html += QStringView(text).mid(at).toString().toHtmlEscaped();
    return html;
}

QueryMatcher::QueryMatcher(const LCHMFile& book, const QString& query) : m_book(book)
{
    const SearchQuery::Terms terms = SearchQuery::parse(query);
    const auto add = [this](const QStringList& words) {
        QVector<QByteArray> keys;
        for (const QString& word : words) {
            const QVector<QByteArray> wordKeys = TextIndex::queryKeys(m_book, word);
            if (wordKeys.isEmpty())
                return;   // a term that no text holds
            keys += wordKeys;
        }
        if (keys.isEmpty())
            return;
        m_longestTerm = std::max(m_longestTerm, keys.size());
        m_terms.append(keys);
    };
    for (const QStringList& phrase : terms.phrases)
        add(phrase);
    for (const QString& word : terms.includeWords)
        add({word});
}

const QueryMatcher::Folded& QueryMatcher::fold(QStringView word) const
{
    const QString text = word.toString();
    if (const auto found = m_folded.constFind(text); found != m_folded.constEnd())
        return *found;
    if (m_folded.size() > 100000)
        m_folded.clear();
    Folded folded;
    const QString lower = text.toLower();
    folded.keys = m_book.searchKeys(lower, &folded.starts);
    // Lower-casing that changes the length leaves no way back to the text: each key then
    // stands for the whole word.
    if (lower.size() != text.size() || folded.starts.size() != folded.keys.size())
        folded.starts.clear();
    return *m_folded.insert(text, std::move(folded));
}

template <typename OnMatch>
void QueryMatcher::scan(const QString& text, const qsizetype* stop, OnMatch&& onMatch) const
{
    if (m_terms.isEmpty())
        return;
    // The latest keys of the text, as many as the longest term has, with where each lies.
    struct Key
    {
        QByteArray bytes;   // empty for a key the index leaves out
        qsizetype start = 0;
        qsizetype end = 0;
    };
    std::deque<Key> recent;
    bool done = false;
    forEachToken(text, [&](QStringView run) {
        const qsizetype runStart = run.constData() - text.constData();
        if (done || runStart >= *stop) {
            done = true;
            return;
        }
        const Folded& folded = fold(run);
        const QVector<QByteArray>& keys = folded.keys;
        const QVector<qsizetype>& starts = folded.starts;
        const bool mapped = !starts.isEmpty();
        for (qsizetype k = 0; k < keys.size() && !done; ++k) {
            Key key;
            if (keys.at(k).size() <= TextIndex::MaxKeyBytes)
                key.bytes = keys.at(k);
            key.start = runStart + (mapped ? starts.at(k) : 0);
            key.end = runStart + (mapped && k + 1 < keys.size() ? starts.at(k + 1) : run.size());
            recent.push_back(std::move(key));
            if (qsizetype(recent.size()) > m_longestTerm)
                recent.pop_front();
            for (qsizetype t = 0; t < m_terms.size() && !done; ++t) {
                const QVector<QByteArray>& term = m_terms.at(t);
                const qsizetype first = qsizetype(recent.size()) - term.size();
                if (first < 0)
                    continue;
                bool equal = true;
                for (qsizetype i = 0; i < term.size() && equal; ++i)
                    equal = recent[size_t(first + i)].bytes == term.at(i);
                if (equal && !onMatch(t, recent[size_t(first)].start, recent.back().end))
                    done = true;
            }
        }
    });
}

bool QueryMatcher::holdsAllTerms(const QString& text) const
{
    if (m_terms.isEmpty())
        return false;
    QBitArray seen(int(m_terms.size()));
    qsizetype left = m_terms.size();
    const qsizetype stop = std::numeric_limits<qsizetype>::max();
    scan(text, &stop, [&](qsizetype term, qsizetype, qsizetype) {
        if (!seen.testBit(int(term))) {
            seen.setBit(int(term));
            --left;
        }
        return left > 0;
    });
    return left == 0;
}

SearchSnippet QueryMatcher::snippet(const QString& text) const
{
    // The first match decides where the line lies; every match up to its end is bold.
    qsizetype stop = std::numeric_limits<qsizetype>::max();
    qsizetype from = -1;
    QVector<std::pair<qsizetype, qsizetype>> matches;
    scan(text, &stop, [&](qsizetype, qsizetype start, qsizetype end) {
        if (from < 0) {
            from = std::max<qsizetype>(0, start - ContextBefore);
            while (from < start && (!isBoundary(text, from) || text.at(from).isSpace()))
                ++from;
            stop = std::max(end, lineEnd(text, from, SnippetLength));
        }
        if (end <= stop)
            matches.append({start, end});
        return true;
    });

    const qsizetype n = text.size();
    if (from < 0) {   // no match: the text's beginning
        from = 0;
        while (from < n && text.at(from).isSpace())
            ++from;
        stop = lineEnd(text, from, SnippetLength);
    }
    qsizetype to = std::min(stop, n);
    const qsizetype mustReach = matches.isEmpty() ? from : matches.first().second;
    while (to > mustReach && !isBoundary(text, to))
        --to;

    // The line itself, white space made single spaces, with each text position's place in it.
    // "…" says that text was left out: not when only white space was.
    SearchSnippet out;
    for (qsizetype i = from - 1; i >= 0; --i) {
        if (!text.at(i).isSpace()) {
            out.text += QChar(0x2026);
            break;
        }
    }
    QVector<qsizetype> place(to - from + 1);
    bool space = false;
    bool wrote = false;
    for (qsizetype i = from; i < to; ++i) {
        const QChar c = text.at(i);
        if (c.isSpace()) {
            space = wrote;
            place[i - from] = out.text.size();
            continue;
        }
        // A tag ends a word, so the text may hold "link ." where the page shows "link.".
        if (space && !QStringView(u".,;:!?)]}").contains(c))
            out.text += QLatin1Char(' ');
        space = false;
        wrote = true;
        place[i - from] = out.text.size();
        out.text += c;
    }
    place[to - from] = out.text.size();
    if (!wrote)
        return {};
    for (qsizetype i = to; i < n; ++i) {
        if (!text.at(i).isSpace()) {
            out.text += QChar(0x2026);
            break;
        }
    }

    for (const auto& [start, end] : std::as_const(matches)) {
        if (start < from || end > to)
            continue;
        const qsizetype a = place[start - from];
        const qsizetype b = place[end - from];
        if (!out.bold.isEmpty() && a <= out.bold.last().second)
            out.bold.last().second = std::max(out.bold.last().second, b);
        else if (b > a)
            out.bold.append({a, b});
    }
    return out;
}

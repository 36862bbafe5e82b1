// The reader's own full-text index: built from page text, or loaded from its cache file, and
// answering queries through the same evaluator as the book's own index.

#include "textindex.h"

#include "lchmfile.h"
#include "pagetext.h"
#include "searchquery.h"
#include "textindexcache.h"

#include <QSet>

#include <algorithm>

Q_LOGGING_CATEGORY(lcTextIndex, "pagewick.book.textindex", QtInfoMsg)

using ByteReader::le32;

constexpr quint32 kNoWord = ~quint32(0);

// The index as a store of words for the query evaluator. Query words split at "." as page
// text does; each piece is folded by the book as the index's words were, after Unicode
// lower-casing (the book's folding works on bytes, and misses the capitals of some scripts).
class TextIndexSource : public SearchWordSource
{
public:
    TextIndexSource(const TextIndex& index, const LCHMFile& book) : m_index(index), m_book(book) {}

    QVector<QByteArray> searchKeys(const QString& word) const override { return TextIndex::queryKeys(m_book, word); }

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
    const LCHMFile& m_book;
    std::vector<quint32> m_positions;
};

QVector<QByteArray> TextIndex::queryKeys(const LCHMFile& book, const QString& word)
{
    QVector<QByteArray> keys;
    for (const QString& piece : word.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        const QVector<QByteArray> pieceKeys = book.searchKeys(piece.toLower());
        if (pieceKeys.isEmpty())
            return {};
        keys += pieceKeys;
    }
    return keys;
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

QByteArrayView TextIndex::loadedEntry(quint32 word) const
{
    return QByteArrayView(m_file).sliced(m_entriesAt + qsizetype(word) * kEntrySize, kEntrySize);
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
    const auto keyEnd = [this](quint32 w) { return w == 0 ? 0 : le32(loadedEntry(w - 1), 0); };
    quint32 low = 0, high = m_loadedWords;
    while (low < high) {
        const quint32 mid = low + (high - low) / 2;
        const quint32 from = keyEnd(mid);
        const int c = compareKeys(keys + from, le32(loadedEntry(mid), 0) - from, key.constData(), key.size());
        if (c == 0) {
            const quint32 postingsFrom = mid == 0 ? 0 : le32(loadedEntry(mid - 1), 4);
            const auto* postings = reinterpret_cast<const uchar*>(m_file.constData()) + m_postingsAt;
            ref->bytes = postings + postingsFrom;
            ref->bytesEnd = postings + le32(loadedEntry(mid), 4);
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

bool TextIndex::search(LCHMFile& book, const QString& query, QStringList* results, int limit,
                       QVector<int>* counts) const
{
    if (!results)
        return false;
    TextIndexSource source(*this, book);
    SearchHitList hits;
    QHash<quint32, int> occurrences;
    if (!SearchQuery::evaluate(source, query, &hits, counts ? &occurrences : nullptr))
        return false;
    QSet<quint32> seen;
    for (const SearchHit& hit : std::as_const(hits)) {
        if (results->size() >= limit)
            break;
        if (hit.urlOffset < quint32(m_paths.size()) && !seen.contains(hit.urlOffset)) {
            seen.insert(hit.urlOffset);
            results->append(m_paths.at(hit.urlOffset));
            if (counts)
                counts->append(occurrences.value(hit.urlOffset, 1));
        }
    }
    return true;
}

// The book's own full-text index (/$FIftiMain): looking words up in its word tree,
// decoding their location lists, and answering queries of words, phrases and exclusions.
//
// The index comes from the book and is not trusted: every read inside a node, a location
// list or a topic table is checked against the bytes actually read, allocations never
// exceed the size of the object they come from, and every loop is bounded by the data.
// A damaged index gives "not found", never a crash or a hang.

#include "bytereader.h"
#include "lchmfileimpl.h"
#include "booklocation.h"
#include "searchquery.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTextCodec>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// Index header fields (all little-endian).
constexpr quint64 kHeaderSize = 0x32;
constexpr int kRootOffsetField = 0x14;
constexpr int kDepthField = 0x18;
constexpr int kDocScaleField = 0x1E;
constexpr int kNodeSizeField = 0x2E;

constexpr size_t kIndexNodeEntriesStart = 2;
constexpr size_t kLeafFreeSpaceField = 6;
constexpr size_t kLeafEntriesStart = 8;
constexpr size_t kIndexEntryTail = 6;       // child node offset (4) and 2 unused bytes
constexpr quint64 kTopicEntrySize = 16;
constexpr quint64 kUrlTableEntrySize = 12;
constexpr quint64 kUrlStringMax = 1024;

constexpr quint64 kAllBits = std::numeric_limits<quint64>::max();

using ByteReader::le16;
using ByteReader::le32;

const unsigned char* bytesOf(const QByteArray& a)
{
    return reinterpret_cast<const unsigned char*>(a.constData());
}

// Reads up to `length` bytes of `unit` at `offset`. The buffer follows the bytes actually
// read, never the length asked for, and is empty when nothing was read.
QByteArray readRange(LCHMFileImpl& book, const ItsfUnit& unit, quint64 offset, quint64 length)
{
    QByteArray buffer;
    book.readObjectBytes(unit, offset, length, &buffer);
    return buffer;
}

// Reads a small fixed-size record; true only when all of it was read.
bool readRecord(LCHMFileImpl& book, const ItsfUnit& unit, quint64 offset, unsigned char* out, quint64 size)
{
    if (offset >= unit.length || unit.length - offset < size)
        return false;
    return book.readObjectRange(unit, out, offset, size) >= size;
}

// The end of a node's entries: node size minus the free space it declares, never beyond
// the bytes that were read.
size_t entriesEnd(quint32 nodeSize, quint16 freeSpace, size_t bytesRead)
{
    const size_t used = freeSpace <= nodeSize ? size_t(nodeSize - freeSpace) : 0;
    return std::min(used, bytesRead);
}

// Words in the tree are front-coded: L, P, then L - 1 bytes that follow the first P bytes of
// the word before. Rebuilds `word` from the entry at `pos` and sets `*next` behind its text.
// False when the entry does not fit in the node.
bool rebuildWord(const unsigned char* node, size_t size, size_t pos, QByteArray* word, size_t* next)
{
    if (pos > size || size - pos < 2)
        return false;
    const size_t length = node[pos];
    const size_t prefix = node[pos + 1];
    if (length == 0 || size - pos - 2 < length - 1)
        return false;
    if (prefix < size_t(word->size()))
        word->truncate(qsizetype(prefix));
    word->append(reinterpret_cast<const char*>(node + pos + 2), qsizetype(length - 1));
    *next = pos + 2 + (length - 1);
    return true;
}

// Stored words compare as unsigned bytes.
bool lessThan(const QByteArray& a, const QByteArray& b)
{
    const size_t common = size_t(std::min(a.size(), b.size()));
    const int c = common ? std::memcmp(a.constData(), b.constData(), common) : 0;
    return c < 0 || (c == 0 && a.size() < b.size());
}

// Moves the cursor to the next bit; past bit 0 it goes on with bit 7 of the next byte.
inline void stepBit(LCHMFileImpl::BitCursor* c)
{
    if (c->bit == 0) {
        c->bit = 7;
        ++c->byte;
    } else {
        --c->bit;
    }
}

} // namespace

quint64 LCHMFileImpl::readScaleRootInt(BitCursor* cursor, quint8 scale, quint8 root, bool* ok)
{
    if (ok)
        *ok = false;
    if (!cursor || scale != 2 || cursor->bit < 0 || cursor->bit > 7)
        return kAllBits;

    // The unary prefix: p one bits and the zero bit that ends them. No value of at most
    // 63 bits needs more than 64 of them.
    quint32 p = 0;
    for (;;) {
        if (cursor->byte >= cursor->size)
            return kAllBits;
        const bool one = (cursor->data[cursor->byte] >> cursor->bit) & 1;
        stepBit(cursor);
        if (!one)
            break;
        if (++p > 64)
            return kAllBits;
    }

    const quint32 width = p == 0 ? root : quint32(root) + p - 1;
    if (width > 63)
        return kAllBits;
    quint64 value = 0;
    for (quint32 i = 0; i < width; ++i) {
        if (cursor->byte >= cursor->size)
            return kAllBits;
        value = (value << 1) | ((cursor->data[cursor->byte] >> cursor->bit) & 1);
        stepBit(cursor);
    }
    if (p != 0)
        value += quint64(1) << width;
    if (ok)
        *ok = true;
    return value;
}

// ---------------------------------------------------------------------------------------
// Looking one stored word up.

namespace {

// Location codes are stored as distances from the previous occurrence in the same topic.
// Positions in a title count apart from those in the body: title positions are moved up
// by this much so that a phrase never runs from a title into a body.
constexpr quint64 kTitlePositions = quint64(1) << 62;

// A word that the index keeps in several entries (one for titles, one for bodies) may run
// past the end of its leaf into the next ones; this bounds how far we follow it.
constexpr int kMaxFollowingLeaves = 8;

struct IndexHeader
{
    quint32 rootOffset = 0;
    quint16 depth = 0;
    quint32 nodeSize = 0;
    quint8 docScale = 0, docRoot = 0, codeScale = 0, codeRoot = 0, locScale = 0, locRoot = 0;
};

bool readHeader(LCHMFileImpl& book, IndexHeader* h)
{
    unsigned char header[kHeaderSize];
    if (!readRecord(book, book.searchUnit, 0, header, kHeaderSize))
        return false;
    h->docScale = header[kDocScaleField];
    h->docRoot = header[kDocScaleField + 1];
    h->codeScale = header[kDocScaleField + 2];
    h->codeRoot = header[kDocScaleField + 3];
    h->locScale = header[kDocScaleField + 4];
    h->locRoot = header[kDocScaleField + 5];
    const QByteArrayView head(header, kHeaderSize);
    h->rootOffset = le32(head, kRootOffsetField);
    h->depth = le16(head, kDepthField);
    h->nodeSize = le32(head, kNodeSizeField);
    return h->docScale == 2 && h->codeScale == 2 && h->locScale == 2;
}

struct LeafEntry
{
    bool title = false;
    quint32 count = 0;
    quint32 listOffset = 0;
    quint32 listSize = 0;
};

// A leaf entry: L, P, text, title flag, count (varint), list offset (4), 2 unused bytes,
// list size (varint). Rebuilds `word` and sets `*next` to the following entry.
bool parseLeafEntry(const unsigned char* data, size_t size, size_t pos, QByteArray* word,
                    LeafEntry* entry, size_t* next)
{
    size_t p = 0;
    if (!rebuildWord(data, size, pos, word, &p) || p >= size)
        return false;
    entry->title = data[p++] != 0;
    const unsigned char* q = data + p;
    const unsigned char* const end = data + size;
    if (!ByteReader::readVarint32(q, end, &entry->count) || end - q < 6)
        return false;
    entry->listOffset = le32(QByteArrayView(data, qsizetype(size)), quint64(q - data));
    q += 6;
    if (!ByteReader::readVarint32(q, end, &entry->listSize))
        return false;
    *next = size_t(q - data);
    return true;
}

struct LeafWord
{
    QByteArray word;
    LeafEntry entry;
};

// Walks the chain of leaves from `leafOffset` on, at most kMaxFollowingLeaves behind the first
// and never one twice. Each leaf's entries go to `visit` in order, with `whole` false when an
// entry could not be read (the entries before it are given); the walk goes on to the next leaf
// while `visit` returns true. Leaves start their front coding afresh.
template <typename Visit>
void walkLeaves(LCHMFileImpl& book, const IndexHeader& h, quint32 leafOffset, Visit visit)
{
    QSet<quint32> visited;
    for (int leaves = 0; leaves <= kMaxFollowingLeaves && leafOffset != 0; ++leaves) {
        if (visited.contains(leafOffset))
            return;
        visited.insert(leafOffset);
        const QByteArray leaf = readRange(book, book.searchUnit, leafOffset, h.nodeSize);
        if (size_t(leaf.size()) < kLeafEntriesStart)
            return;
        const unsigned char* data = bytesOf(leaf);
        const size_t size = size_t(leaf.size());
        const size_t end = entriesEnd(h.nodeSize, le16(leaf, kLeafFreeSpaceField), size);
        QVector<LeafWord> entries;
        bool whole = true;
        QByteArray word;
        for (size_t pos = kLeafEntriesStart; pos < end && whole;) {
            LeafEntry entry;
            whole = parseLeafEntry(data, size, pos, &word, &entry, &pos);
            if (whole)
                entries.append({word, entry});
        }
        if (!visit(entries, whole))
            return;
        leafOffset = le32(leaf, 0);
    }
}

// One decoded record of a location list, with the topic's place in /#TOPICS.
struct DocHit
{
    quint64 doc;
    SearchHit hit;
};

// Decodes a location list into one hit per record. With `keepPositions` every hit carries
// the word's positions in its topic (from `positionBase` on). False when the list cannot be
// read, ends before its last record, or names a topic the tables do not hold.
bool decodeLocationList(LCHMFileImpl& book, const LeafEntry& entry, const IndexHeader& h,
                        bool keepPositions, quint64 positionBase, QVector<DocHit>* out)
{
    if (entry.count == 0)
        return true;   // a word the index knows but lists in no topic
    const QByteArray list = readRange(book, book.searchUnit, entry.listOffset, entry.listSize);
    if (list.isEmpty())
        return false;

    LCHMFileImpl::BitCursor cursor;
    cursor.data = bytesOf(list);
    cursor.size = size_t(list.size());
    const quint64 topicCount = book.topicsUnit.length / kTopicEntrySize;
    quint64 docIndex = 0;
    QVector<DocHit> found;
    // A count larger than the list can hold ends when the bits run out: every record
    // starts on a byte of its own.
    for (quint32 i = 0; i < entry.count; ++i) {
        if (cursor.bit != 7) {
            cursor.bit = 7;
            ++cursor.byte;
        }
        if (cursor.byte >= cursor.size)
            return false;

        bool ok = false;
        const quint64 step = LCHMFileImpl::readScaleRootInt(&cursor, h.docScale, h.docRoot, &ok);
        if (!ok || step >= topicCount - docIndex)
            return false;
        docIndex += step;

        DocHit record{docIndex, {}};
        unsigned char topic[kTopicEntrySize];
        unsigned char urlEntry[kUrlTableEntrySize];
        if (!readRecord(book, book.topicsUnit, docIndex * kTopicEntrySize, topic, kTopicEntrySize)
            || !readRecord(book, book.urltblUnit, le32(QByteArrayView(topic, kTopicEntrySize), 8), urlEntry,
                           kUrlTableEntrySize))
            return false;
        record.hit.urlOffset = le32(QByteArrayView(urlEntry, kUrlTableEntrySize), 8);

        const quint64 codes = LCHMFileImpl::readScaleRootInt(&cursor, h.codeScale, h.codeRoot, &ok);
        if (!ok)
            return false;
        quint64 position = positionBase;
        for (quint64 k = 0; k < codes; ++k) {
            const quint64 distance = LCHMFileImpl::readScaleRootInt(&cursor, h.locScale, h.locRoot, &ok);
            if (!ok || distance >= kTitlePositions - (position - positionBase))
                return false;
            position += distance;
            if (keepPositions)
                record.hit.locations.append(position);
        }
        found.append(std::move(record));
    }
    out->append(found);
    return true;
}

// Looks one key (bytes as the index stores them) up. A word may have several entries in a
// row (chmcmd and Microsoft's compiler keep title and body occurrences apart); their hits are
// merged into one per topic, in topic order.
bool lookupKey(LCHMFileImpl& book, const QByteArray& key, bool phraseMode, SearchHitList* hits)
{
    if (key.isEmpty())
        return false;
    IndexHeader h;
    if (!readHeader(book, &h))
        return false;
    // Only the leaf the tree leads to is searched; the next leaf only while the key's entries
    // run up to the end of this one.
    QVector<LeafEntry> matches;
    walkLeaves(book, h, book.findLeafNode(key, h.rootOffset, h.nodeSize, h.depth),
               [&key, &matches](const QVector<LeafWord>& entries, bool whole) {
                   for (const LeafWord& e : entries) {
                       if (e.word == key)
                           matches.append(e.entry);
                       else if (!matches.isEmpty())
                           return false;   // met an entry after the key's entries
                   }
                   return whole && !entries.isEmpty() && entries.constLast().word == key;
               });
    if (matches.isEmpty())
        return false;

    QVector<DocHit> found;
    for (const LeafEntry& entry : std::as_const(matches)) {
        if (!decodeLocationList(book, entry, h, phraseMode, entry.title ? kTitlePositions : 0, &found))
            return false;
    }
    if (matches.size() > 1) {
        std::stable_sort(found.begin(), found.end(),
                         [](const DocHit& a, const DocHit& b) { return a.doc < b.doc; });
        QVector<DocHit> merged;
        for (DocHit& record : found) {
            if (!merged.isEmpty() && merged.constLast().doc == record.doc)
                merged.last().hit.locations += record.hit.locations;
            else
                merged.append(std::move(record));
        }
        found = std::move(merged);
    }
    for (DocHit& record : found)
        hits->append(std::move(record.hit));
    return true;
}

// Chinese, Japanese and Korean books: their index keeps every character of those scripts
// as a word of its own, in the book's code page and without folding.
bool isIdeographicLanguage(quint16 lcid)
{
    const quint16 primary = lcid & 0x3FF;
    return primary == 0x04 || primary == 0x11 || primary == 0x12;
}

// The keys to look up for one word of the query: one key, or for ideographic books one per
// character of those scripts (runs of ASCII stay whole), which must follow each other.
// Empty when the word cannot occur in the index.
QVector<QByteArray> searchKeys(const LCHMFileImpl& book, const QString& word, QVector<qsizetype>* starts = nullptr)
{
    if (starts)
        starts->clear();
    if (word.isEmpty())
        return {};
    if (!book.codec || !isIdeographicLanguage(book.lcid)) {
        const QByteArray key = book.searchWordBytes(word);
        if (key.isEmpty())
            return {};
        if (starts)
            starts->append(0);
        return {key};
    }

    QVector<QByteArray> keys;
    QString run;
    qsizetype runStart = 0;
    const auto flush = [&]() {
        if (!run.isEmpty()) {
            keys.append(run.toLower().toLatin1());
            if (starts)
                starts->append(runStart);
        }
        run.clear();
    };
    for (qsizetype i = 0; i < word.size(); ++i) {
        const QChar c = word.at(i);
        if (c.unicode() < 0x80) {
            if (run.isEmpty())
                runStart = i;
            run += c;
            continue;
        }
        flush();
        qsizetype length = 1;
        if (c.isHighSurrogate() && i + 1 < word.size() && word.at(i + 1).isLowSurrogate())
            length = 2;
        const QString character = word.mid(i, length);
        if (!book.codec->canEncode(character)) {
            if (starts)
                starts->clear();
            return {};
        }
        keys.append(book.codec->fromUnicode(character));
        if (starts)
            starts->append(i);
        i += length - 1;
    }
    flush();
    return keys;
}

// The book's own index as a store of words for the query evaluator.
class BookIndexSource : public SearchWordSource
{
public:
    explicit BookIndexSource(LCHMFileImpl& book) : m_book(book) {}
    QVector<QByteArray> searchKeys(const QString& word) const override { return ::searchKeys(m_book, word); }
    bool lookupKey(const QByteArray& key, bool positions, SearchHitList* hits) override
    {
        return ::lookupKey(m_book, key, positions, hits);
    }

private:
    LCHMFileImpl& m_book;
};

} // namespace

bool LCHMFileImpl::lookupWord(const QString& word, bool phraseMode, SearchHitList* hits)
{
    if (!hasSearchIndex)
        return false;
    BookIndexSource source(*this);
    return SearchQuery::lookupWord(source, word, phraseMode, hits);
}

QVector<QByteArray> LCHMFileImpl::searchKeys(const QString& word, QVector<qsizetype>* starts) const
{
    return ::searchKeys(*this, word, starts);
}

bool LCHMFileImpl::searchIndexHasWords()
{
    if (!hasSearchIndex)
        return false;
    IndexHeader h;
    if (!readHeader(*this, &h))
        return false;
    // An empty key sorts before every word, so the descent ends in the first leaf. Its
    // entries, and those of a few leaves behind it, are enough to tell an index that lists
    // words in topics from an empty or unusable one.
    bool found = false;
    walkLeaves(*this, h, findLeafNode(QByteArray(), h.rootOffset, h.nodeSize, h.depth),
               [&found](const QVector<LeafWord>& entries, bool whole) {
                   found = std::any_of(entries.cbegin(), entries.cend(), [](const LeafWord& e) {
                       return e.entry.count > 0 && e.entry.listSize > 0;
                   });
                   return !found && whole;
               });
    return found;
}

quint32 LCHMFileImpl::findLeafNode(const QByteArray& key, quint32 rootOffset, quint32 nodeSize, quint16 depth)
{
    // Every level of a real tree holds at least one node of its own, so a tree deeper than
    // the index has room for is damaged; this also bounds the bytes read by one descent.
    if (depth == 0 || nodeSize == 0 || nodeSize > searchUnit.length
        || quint64(depth) * nodeSize > searchUnit.length)
        return 0;

    quint32 current = rootOffset;
    quint32 previous = 0;
    QSet<quint32> visited;
    QByteArray word;   // carries over from node to node during the descent
    for (quint32 level = 1; level < depth; ++level) {
        if (current == previous || visited.contains(current))
            return 0;   // a node that leads back to itself or to a node above it
        const QByteArray node = readRange(*this, searchUnit, current, nodeSize);
        if (node.isEmpty())
            return 0;
        previous = current;
        visited.insert(current);

        const unsigned char* data = bytesOf(node);
        const size_t size = size_t(node.size());
        if (size < kIndexNodeEntriesStart)
            return 0;
        const size_t end = entriesEnd(nodeSize, le16(node, 0), size);
        size_t pos = kIndexNodeEntriesStart;
        // chmcmd writes the last node of an index level with two zero bytes before its
        // entries. No entry has length 0, so such bytes are padding, not an entry.
        if (size >= kIndexNodeEntriesStart + 2 && data[pos] == 0 && data[pos + 1] == 0)
            pos += 2;
        while (pos < end) {
            size_t p = 0;
            if (!rebuildWord(data, size, pos, &word, &p) || size - p < kIndexEntryTail)
                break;
            if (!lessThan(word, key)) {
                current = le32(node, p);
                break;
            }
            pos = p + kIndexEntryTail;
        }
        // No entry at or above the key: `current` stays, and the next level finds nothing.
    }
    return current != previous ? current : 0;
}

bool LCHMFileImpl::lookupPhrase(const QStringList& words, SearchHitList* hits)
{
    if (!hasSearchIndex)
        return false;
    BookIndexSource source(*this);
    return SearchQuery::lookupPhrase(source, words, hits);
}

void LCHMFileImpl::cleanSearchWord(QString& word)
{
    SearchQuery::cleanWord(word);
}

void LCHMFileImpl::collectResultPaths(const SearchHitList& hits, QStringList* results, int limit,
                                      const QHash<quint32, int>& occurrences, QVector<int>* counts)
{
    if (!results)
        return;
    QSet<quint32> seen;
    int appended = 0;
    for (const SearchHit& hit : hits) {
        if (appended >= limit)
            break;
        if (seen.contains(hit.urlOffset))
            continue;
        seen.insert(hit.urlOffset);

        const QByteArray entry = readRange(*this, urlstrUnit, quint64(hit.urlOffset) + 8, kUrlStringMax);
        if (entry.isEmpty())
            continue;
        const qsizetype nul = entry.indexOf('\0');
        const QByteArray path = nul >= 0 ? entry.left(nul) : entry;
        results->append(makeAbsolutePath(QString::fromLatin1(path)));
        if (counts)
            counts->append(occurrences.value(hit.urlOffset, 1));
        ++appended;
    }
}

bool LCHMFileImpl::fullTextSearch(const QString& query, QStringList* results, int limit, QVector<int>* counts)
{
    if (!results)
        return false;
    SearchHitList result;
    BookIndexSource source(*this);
    QHash<quint32, int> occurrences;
    if (!SearchQuery::evaluate(source, query, &result, counts ? &occurrences : nullptr))
        return false;
    collectResultPaths(result, results, limit, occurrences, counts);
    return true;
}

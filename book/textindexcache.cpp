// The text index's cache file: where it lives, what it must match, writing and loading it.

#include "bookidentity.h"
#include "lchmfile.h"
#include "textindexcache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

using ByteReader::appendLe;
using ByteReader::ByteCursor;
using ByteReader::le32;

namespace {

constexpr char kMagic[8] = {'P', 'W', 'T', 'X', 'T', 'I', 'D', 'X'};
// Raised whenever what a page decodes to changes, so that no cache keeps the old text
// (4: UTF-8 pages that declare no charset read as UTF-8 in a book of a legacy code page).
constexpr quint32 kVersion = 4;
constexpr int kStampDigestSize = 20;
constexpr qsizetype kHeaderSize = 8 + 4 + 8 + 8 + kStampDigestSize + 8 + 8 + 8 + 8 + 4 + 8;

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

void putString(QByteArray* out, const QString& s)
{
    const QByteArray utf8 = s.toUtf8();
    appendLe<quint32>(out, quint32(utf8.size()));
    out->append(utf8);
}

QString readString(ByteCursor& in)
{
    const quint32 n = in.u32();
    const char* p = in.bytes(n);
    return p ? QString::fromUtf8(p, n) : QString();
}

} // namespace

TextIndex::CacheStamp TextIndex::cacheStampOf(LCHMFile& book)
{
    // The state of the book file (its stamp): an index made before any change to the file is
    // made again. Caches stamped before the stamp was in nanoseconds never match.
    const BookIdentity file = book.identity();
    return {qint64(file.stamp().size), file.stamp().modifiedNs, file.stampDigest()};
}

QString TextIndex::cacheFile(const QString& path)
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QLatin1String("/text-index/")
        + BookIdentity::ofPath(path).cacheName() + QLatin1String(".idx");
}

bool TextIndex::save(const QString& file, const CacheStamp& identity) const
{
    QByteArray pages;
    appendLe<quint32>(&pages, quint32(m_paths.size()));
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
            const quint32 to = le32(loadedEntry(w), 0);
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
            ByteReader::appendVarint32(&postings, quint32(page - previousPage - 1));
            ByteReader::appendVarint32(&postings, quint32(positions.size() - 1));
            previousPage = page;
            qint64 previous = -1;
            for (quint32 position : positions) {
                ByteReader::appendVarint32(&postings, quint32(position - previous - 1));
                previous = position;
            }
        }
        keys.append(key);
        if (cursor.bad() || kHeaderSize + pages.size() + table.size() + keys.size() + postings.size() > MaxCacheBytes)
            return false;
        appendLe<quint32>(&table, quint32(keys.size()));
        appendLe<quint32>(&table, quint32(postings.size()));
    }

    QByteArray payload = pages + table + keys + postings;
    QByteArray header(kMagic, 8);
    appendLe<quint32>(&header, kVersion);
    appendLe<quint64>(&header, quint64(identity.size));
    appendLe<quint64>(&header, quint64(identity.modified));
    header.append(identity.stampDigest.leftJustified(kStampDigestSize, '\0', true));
    appendLe<quint64>(&header, quint64(pages.size()));
    appendLe<quint64>(&header, quint64(words.size()));
    appendLe<quint64>(&header, quint64(keys.size()));
    appendLe<quint64>(&header, quint64(postings.size()));
    appendLe<quint32>(&header, m_truncated ? 1 : 0);
    appendLe<quint64>(&header, payloadHash(payload.constData(), payload.size()));

    QDir().mkpath(QFileInfo(file).absolutePath());
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(header) != header.size()
        || out.write(payload) != payload.size() || !out.commit()) {
        qCWarning(lcTextIndex) << "cannot write the text index cache" << file << out.errorString();
        return false;
    }
    return true;
}

bool TextIndex::load(const QString& file, const CacheStamp& identity)
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
    ByteCursor header(QByteArrayView(bytes).sliced(8, kHeaderSize - 8));
    if (header.u32() != kVersion)
        return false;
    CacheStamp stamped;
    stamped.size = qint64(header.u64());
    stamped.modified = qint64(header.u64());
    if (const char* listing = header.bytes(kStampDigestSize))
        stamped.stampDigest = QByteArray(listing, kStampDigestSize);
    const quint64 pagesSize = header.u64();
    const quint64 words = header.u64();
    const quint64 keysSize = header.u64();
    const quint64 postingsSize = header.u64();
    const quint32 truncated = header.u32();
    const quint64 hash = header.u64();
    const QByteArray expectedHash = identity.stampDigest.leftJustified(kStampDigestSize, '\0', true);
    if (!header.ok() || stamped.size != identity.size || stamped.modified != identity.modified
        || stamped.stampDigest != expectedHash) {
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
    ByteCursor r(QByteArrayView(bytes).sliced(kHeaderSize, qsizetype(pagesSize)));
    const quint32 pages = r.u32();
    if (qint64(pages) * 8 > r.left())
        return malformed();
    m_paths.reserve(pages);
    m_titles.reserve(pages);
    m_pageOfPath.reserve(pages);
    for (quint32 i = 0; i < pages && r.ok(); ++i) {
        const QString path = readString(r);
        m_titles.append(readString(r));
        m_pageOfPath.insert(path, int(i));
        m_paths.append(path);
    }
    if (!r.ok() || r.left() != 0)
        return malformed();

    const qsizetype entriesAt = kHeaderSize + qsizetype(pagesSize);
    const qsizetype keysAt = entriesAt + qsizetype(words) * kEntrySize;
    const QByteArrayView table = QByteArrayView(bytes).sliced(entriesAt, keysAt - entriesAt);
    const char* keys = bytes.constData() + keysAt;
    quint32 keyFrom = 0, postingsFrom = 0;
    const char* previousKey = nullptr;
    qsizetype previousSize = 0;
    for (quint64 w = 0; w < words; ++w) {
        const quint32 keyTo = le32(table, w * kEntrySize);
        const quint32 postingsTo = le32(table, w * kEntrySize + 4);
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

#include "lchmbookcache.h"

#include "booklocation.h"
#include "bytereader.h"

#include <QMutexLocker>

#include <algorithm>
#include <ctime>

namespace {

// Whether makeAbsolutePath would at most put a "/" in front of the path: no backslash, no
// colon (so no link that leaves the book), no empty, "." or ".." segment, no "/" at the end.
bool isPlainPath(const char* p, qsizetype n)
{
    qsizetype segment = (n > 0 && p[0] == '/') ? 1 : 0;
    if (segment >= n)
        return false;
    for (qsizetype i = segment; i <= n; ++i) {
        if (i < n && p[i] != '/') {
            if (p[i] == '\\' || p[i] == ':')
                return false;
            continue;
        }
        const qsizetype length = i - segment;
        if (length == 0 || (p[segment] == '.' && (length == 1 || (length == 2 && p[segment + 1] == '.'))))
            return false;
        segment = i + 1;
    }
    return true;
}

qint64 nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

LCHMTopicMap::LCHMTopicMap(const QByteArray& topics, const QByteArray& urltbl, const QByteArray& urlstr,
                           const QByteArray& strings, bool utf8Titles)
    : m_strings(strings), m_utf8Titles(utf8Titles)
{
    const quint64 records = quint64(topics.size()) / 16;
    m_topics.reserve(size_t(records));
    m_paths.reserve(urlstr.size() + qsizetype(records));
    for (quint64 i = 0; i + 16 <= quint64(topics.size()); i += 16) {
        const quint32 titleOffset = ByteReader::le32(topics, i + 4);
        const quint64 tableOffset = ByteReader::le32(topics, i + 8);
        if (tableOffset + 12 > quint64(urltbl.size()))
            continue;
        const quint64 stringOffset = quint64(ByteReader::le32(urltbl, tableOffset + 8)) + 8;
        if (stringOffset >= quint64(urlstr.size()))
            continue;
        const QByteArrayView rawPath = ByteReader::cStringAt(urlstr, stringOffset);
        const char* raw = rawPath.data();
        const qsizetype rawLength = rawPath.size();
        const qsizetype at = m_paths.size();
        // Nearly every stored path is a plain relative one: it is appended as it is, without
        // a string of its own; the rest go through the full path rule.
        if (isPlainPath(raw, rawLength)) {
            if (raw[0] != '/')
                m_paths += QLatin1Char('/');
            m_paths += QLatin1String(raw, rawLength);
        } else {
            m_paths += makeAbsolutePath(QString::fromLatin1(raw, rawLength));
        }
        if (quint64(m_paths.size()) > NoTitle)
            break;   // far beyond what the table size bound lets through
        const quint32 title = quint64(titleOffset) < quint64(strings.size()) ? titleOffset : NoTitle;
        m_topics.push_back(Topic{quint32(at), quint32(m_paths.size() - at), title});
    }

    // Sorted by path; of a run of equal paths the last record wins, as a later entry replaces
    // an earlier one: std::unique keeps the first of a run, so it walks from the back.
    std::stable_sort(m_topics.begin(), m_topics.end(),
                     [this](const Topic& a, const Topic& b) { return pathOf(a) < pathOf(b); });
    const auto samePath = [this](const Topic& a, const Topic& b) { return pathOf(a) == pathOf(b); };
    m_topics.erase(m_topics.begin(), std::unique(m_topics.rbegin(), m_topics.rend(), samePath).base());
    m_topics.shrink_to_fit();
}

bool LCHMTopicMap::titleBytes(QStringView path, QByteArray* title, bool* untitled) const
{
    const auto it = std::lower_bound(m_topics.begin(), m_topics.end(), path,
                                     [this](const Topic& t, QStringView p) { return pathOf(t) < p; });
    if (it == m_topics.end() || pathOf(*it) != path)
        return false;
    *untitled = it->titleAt == NoTitle;
    if (*untitled)
        title->clear();
    else
        *title = ByteReader::cStringAt(m_strings, it->titleAt).toByteArray();
    return true;
}

quint64 LCHMTopicMap::approximateBytes() const
{
    return sizeof(*this) + quint64(m_strings.size()) + quint64(m_paths.size()) * 2
        + quint64(m_topics.size()) * sizeof(Topic);
}

std::shared_ptr<const LCHMTopicMap>
LCHMTopicMapSlot::get(const std::function<std::shared_ptr<const LCHMTopicMap>()>& build)
{
    std::call_once(m_once, [&] { m_map = build(); });
    return m_map;
}

quint64 LCHMParsedBook::approximateBytes() const
{
    const LCHMBookMetadata& m = metadata;
    return sizeof(*this) + (directory ? directory->approximateBytes() : 0)
        + (m.topicMap ? m.topicMap->estimatedBytes() : 0)
        + quint64(m.homePath.size() + m.contentsFile.size() + m.indexFile.size() + m.titleBytes.size());
}

LCHMBookCache& LCHMBookCache::instance()
{
    static LCHMBookCache cache;
    return cache;
}

std::shared_ptr<const LCHMParsedBook> LCHMBookCache::find(const ItsfFileStamp& stamp)
{
    QMutexLocker lock(&m_mutex);
    const auto it = std::find_if(m_books.begin(), m_books.end(), [&](const auto& b) { return b.first == stamp; });
    if (it == m_books.end())
        return nullptr;
    std::rotate(m_books.begin(), it, it + 1);   // the newest use goes first
    return m_books.front().second;
}

void LCHMBookCache::insert(const ItsfFileStamp& stamp, std::shared_ptr<const LCHMParsedBook> book)
{
    if (!book)
        return;
    // A write within the same tick of the file system's clock leaves the same times: a file
    // changed that recently is not kept. File systems that keep whole seconds (no nanoseconds
    // at all) get two seconds.
    const bool wholeSeconds = stamp.modifiedNs % 1000000000 == 0 && stamp.changedNs % 1000000000 == 0;
    const qint64 settle = wholeSeconds ? 2000000000 : 20000000;
    if (nowNs() - std::max(stamp.modifiedNs, stamp.changedNs) < settle)
        return;
    const quint64 bytes = book->approximateBytes();
    if (bytes > MaxBytes)
        return;

    QMutexLocker lock(&m_mutex);
    m_books.erase(std::remove_if(m_books.begin(), m_books.end(), [&](const auto& b) { return b.first == stamp; }),
                  m_books.end());
    m_books.insert(m_books.begin(), {stamp, std::move(book)});
    quint64 total = 0;
    size_t keep = 0;
    while (keep < m_books.size() && int(keep) < MaxBooks
           && total + m_books[keep].second->approximateBytes() <= MaxBytes) {
        total += m_books[keep].second->approximateBytes();
        ++keep;
    }
    m_books.resize(keep);
}

void LCHMBookCache::clear()
{
    QMutexLocker lock(&m_mutex);
    m_books.clear();
}

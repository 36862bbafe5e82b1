#pragma once

#include "itsfarchive.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class QTextCodec;

// Every topic's path and where its title lies, from the book's topic tables. Built once, in
// one pass, and never changed afterwards: several open books on several threads may read one.
class LCHMTopicMap
{
public:
    // Builds the map from whole copies of /#TOPICS, /#URLTBL, /#URLSTR and /#STRINGS. Records
    // that point outside the tables are skipped; a title offset outside /#STRINGS gives the
    // title "Untitled"; of two records with the same path the later one counts.
    // `utf8Titles`: the titles' table reads as UTF-8, whatever the book's language says.
    LCHMTopicMap(const QByteArray& topics, const QByteArray& urltbl, const QByteArray& urlstr,
                 const QByteArray& strings, bool utf8Titles = false);

    int size() const { return int(m_topics.size()); }
    bool utf8Titles() const { return m_utf8Titles; }
    // The 8-bit title stored for exactly this absolute path; *untitled says that the record's
    // title lies outside /#STRINGS. False when no topic has the path.
    bool titleBytes(QStringView path, QByteArray* title, bool* untitled) const;
    quint64 approximateBytes() const;

private:
    struct Topic
    {
        quint32 pathAt;       // in m_paths
        quint32 pathLength;
        quint32 titleAt;      // in m_strings; NoTitle when the record's offset lies outside
    };
    static constexpr quint32 NoTitle = ~quint32(0);
    QStringView pathOf(const Topic& topic) const { return QStringView(m_paths).mid(topic.pathAt, topic.pathLength); }

    QByteArray m_strings;
    bool m_utf8Titles = false;
    QString m_paths;              // every topic's absolute path, one after the other
    std::vector<Topic> m_topics;  // sorted by path, one per path
};

// The topic map of one book, built when first asked for (opening does not need it) by
// whichever open of the book asks first; every open of the same unchanged book shares it.
// Safe to use from any thread: one caller builds, the others wait for it.
class LCHMTopicMapSlot
{
public:
    // `estimatedBytes`: what the map may hold, counted by the cache before it is built.
    explicit LCHMTopicMapSlot(quint64 estimatedBytes) : m_estimatedBytes(estimatedBytes) {}

    // The map; `build` makes it on the first call (it may give null for tables that do not read).
    std::shared_ptr<const LCHMTopicMap> get(const std::function<std::shared_ptr<const LCHMTopicMap>()>& build);
    quint64 estimatedBytes() const { return m_estimatedBytes; }

private:
    std::once_flag m_once;
    std::shared_ptr<const LCHMTopicMap> m_map;
    const quint64 m_estimatedBytes;
};

// What opening a book reads from it, beyond the container's directory: fixed at opening.
struct LCHMBookMetadata
{
    QByteArray homePath;
    QByteArray contentsFile;
    QByteArray indexFile;  // the keyword index sitemap, e.g. "/index.hhk"; empty when there is none
    QByteArray titleBytes;
    quint16 lcid = 0;
    QTextCodec* codec = nullptr;   // the toolkit's, alive for the whole process; null: Latin-1
    bool doubleByteCodec = false;  // the codec writes an ideograph in two bytes (GBK, Big5, ...)
    bool tablesValid = false;
    ItsfUnit topicsUnit, stringsUnit, urltblUnit, urlstrUnit;
    bool hasSearchIndex = false;
    ItsfUnit searchUnit;
    std::shared_ptr<LCHMTopicMapSlot> topicMap;   // null when the topic tables are missing
};

// What opening a book finds out, kept so that the same unchanged book opens again without
// reading it: the container's directory and decoder layout, the metadata and the topic map.
// Immutable once made.
struct LCHMParsedBook
{
    std::shared_ptr<const ItsfDirectory> directory;
    LCHMBookMetadata metadata;

    quint64 approximateBytes() const;
};

// The books parsed last in this process, looked up by the state of their file (device, inode,
// size, modification and change times), so that a book rewritten in any way, its notes record
// included, is never taken for the one parsed before. Small and bounded: the last MaxBooks
// books, MaxBytes in all. Safe to use from any thread.
class LCHMBookCache
{
public:
    static constexpr int MaxBooks = 4;
    static constexpr quint64 MaxBytes = 32ull << 20;

    static LCHMBookCache& instance();

    // The parse kept for a file in exactly this state, or null.
    std::shared_ptr<const LCHMParsedBook> find(const ItsfFileStamp& stamp);
    // Keeps `book` as the parse of the file in state `stamp`, unless the file changed so
    // recently that a further write could leave the same stamp (file times are kept with the
    // coarse precision of the system's clock tick, or whole seconds on some file systems),
    // or the parse alone is larger than MaxBytes.
    void insert(const ItsfFileStamp& stamp, std::shared_ptr<const LCHMParsedBook> book);
    // Forgets every book.
    void clear();

private:
    LCHMBookCache() = default;

    QMutex m_mutex;
    std::vector<std::pair<ItsfFileStamp, std::shared_ptr<const LCHMParsedBook>>> m_books;   // newest first
};

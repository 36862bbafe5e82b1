#pragma once

#include "backgroundrunner.h"
#include "pagetext.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QLoggingCategory>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class LCHMFile;

Q_DECLARE_LOGGING_CATEGORY(lcTextIndex)

// A full-text index of the reader's own, built from the text of a book's HTML pages, for
// books whose own index is missing or covers only their titles. It stores every word under
// the keys the book's own search would use (LCHMFile::searchKeys: the same case and accent
// folding, one key per character in Chinese, Japanese and Korean books) with the pages and
// positions where it occurs, so that the query language and phrases work as on the book's
// own index. A page's title and body count as separate texts: no phrase runs from one into
// the other.
//
// Bounded against hostile books: a page contributes at most MaxPageText characters, keys
// longer than MaxKeyBytes are dropped, at most MaxDistinctWords keys and MaxPositions
// positions are stored (the rest of the book is then not indexed and isTruncated() says so).
// The cache file follows from these bounds and is refused beyond MaxCacheBytes.
//
// Not thread-safe; TextIndexJob shares one between a building and a searching thread.
class TextIndex
{
public:
    static constexpr qsizetype MaxPageText = 1 << 20;
    static constexpr int MaxKeyBytes = 64;
    static constexpr int MaxDistinctWords = 1 << 20;
    static constexpr qint64 MaxPositions = qint64(1) << 25;
    static constexpr qint64 MaxCacheBytes = qint64(1) << 28;

    // What a cache file must match to stand for a book, derived from the book's identity
    // (BookIdentity): the book file's size, modification time (nanoseconds) and the digest
    // of its whole stamp.
    struct CacheStamp
    {
        qint64 size = -1;
        qint64 modified = 0;
        QByteArray stampDigest;
        bool operator==(const CacheStamp& o) const
        {
            return size == o.size && modified == o.modified && stampDigest == o.stampDigest;
        }
    };

    // The book's HTML pages (.htm, .html, .xhtml), in the order the directory lists them.
    static QStringList htmlPages(LCHMFile& book);
    // The text of a page: decoded with the charset its <meta> declares, or else with the
    // book's code page.
    static PageText pageText(LCHMFile& book, const QByteArray& html);
    // Whether the book's own full-text index holds the words of its pages' text. A sample
    // of body words (not title words) from pages spread over the book is looked up; an
    // index that finds fewer than half of them holds titles only, or no words that a reader
    // can type. False when the book has no index that lists words.
    static bool bookIndexCoversPages(LCHMFile& book);
    // The stamp a cache of the book open in `book` carries.
    static CacheStamp cacheStampOf(LCHMFile& book);
    // Where the index of the book at `path` is cached: a file under the user's cache folder
    // named after the book (BookIdentity::cacheName).
    static QString cacheFile(const QString& path);

    // Reads, decodes and indexes one page of `book` (a page that cannot be read adds a page
    // without words). Pages are numbered in the order they are added.
    void addPage(LCHMFile& book, const QString& path);
    void addPageText(const QString& path, const PageText& text, LCHMFile& book);
    // Frees what only adding pages needs.
    void finishBuild();
    int pageCount() const { return int(m_paths.size()); }
    int wordCount() const { return isLoaded() ? int(m_loadedWords) : int(m_postings.size()); }
    bool isTruncated() const { return m_truncated; }
    // The page's <title>, for pages the book's topic table does not name.
    QString pageTitle(const QString& path) const;

    // The keys a query word is looked up under in page text: split at "." as page text is,
    // each piece lower-cased and folded by `book`. Empty when a piece cannot be stored.
    static QVector<QByteArray> queryKeys(const LCHMFile& book, const QString& word);

    // Answers `query` (words, "phrases", +word, -word) with at most `limit` page paths, in
    // page order; with `counts`, how often the query's phrases and required words occur on
    // each. `book` is the open book the index was built from: it folds the query's words.
    // False when a phrase or a required word occurs nowhere.
    bool search(LCHMFile& book, const QString& query, QStringList* results, int limit,
                QVector<int>* counts = nullptr) const;

    // Writes the index to `file` atomically, stamped with `identity`.
    bool save(const QString& file, const CacheStamp& identity) const;
    // Replaces this index with the one in `file` when the file is whole, undamaged and
    // stamped with `identity`; otherwise false, and this index is left empty.
    bool load(const QString& file, const CacheStamp& identity);

private:
    friend class TextIndexSource;
    friend class PostingsCursor;
    // A built index keeps per word, for every page that holds it: page number, count n, then
    // the n positions. A loaded one keeps the cache file's bytes, and reads a word's
    // postings from them when a query asks for it.
    struct Postings
    {
        std::vector<quint32> data;
        quint32 lastPage = ~quint32(0);
        size_t countAt = 0;
    };
    // The word's postings: in the loaded file (its bytes) or in the built index (its numbers).
    struct PostingsRef
    {
        const uchar* bytes = nullptr;
        const uchar* bytesEnd = nullptr;
        const quint32* numbers = nullptr;
        size_t size = 0;
    };
    bool postingsOf(const QByteArray& key, PostingsRef* ref) const;
    void clear();
    void addText(quint32 page, const QString& text, quint32* position, LCHMFile& book);
    void addPosition(quint32 word, quint32 page, quint32 position);
    const std::vector<quint32>& wordIds(QStringView token, LCHMFile& book);
    bool isLoaded() const { return !m_file.isEmpty(); }
    // The word table of a loaded file, sorted by key: per word the ends of its key and of its
    // postings (4 bytes each), then every key, then every word's postings.
    QByteArrayView loadedEntry(quint32 word) const;

    QStringList m_paths;
    QStringList m_titles;
    QHash<QString, int> m_pageOfPath;
    QHash<QByteArray, quint32> m_wordIds;
    std::vector<QByteArray> m_keys;
    std::vector<Postings> m_postings;
    QByteArray m_file;
    qsizetype m_entriesAt = 0;
    qsizetype m_keysAt = 0;
    qsizetype m_postingsAt = 0;
    quint32 m_loadedWords = 0;
    qint64 m_positions = 0;
    bool m_truncated = false;
    // Tokens already folded during a build, to their word numbers. The keys view the
    // strings kept in m_tokenTexts, so that a token is looked up without a copy.
    QHash<QStringView, std::vector<quint32>> m_tokenCache;
    std::deque<QString> m_tokenTexts;
};

// One build of a book's text index, shared between the thread that runs it and the one that
// searches: run() on a worker thread loads the index from the cache or builds it page by
// page (and then caches it), calling `progress` after each page; search() may be called at
// any time and answers from the pages indexed so far. A cancelled `token` makes run() stop
// after the page at hand.
class TextIndexJob
{
public:
    TextIndexJob(const QString& bookPath, const QString& cacheFile);

    void run(const CancelToken& token = CancelToken(), const std::function<void(int done, int total)>& progress = {});

    int pagesDone() const { return m_done; }
    int pagesTotal() const { return m_total; }   // -1 until the pages are listed
    bool isFinished() const { return m_finished; }
    bool loadedFromCache() const { return m_fromCache; }

    bool search(LCHMFile& book, const QString& query, QStringList* results, int limit,
                QVector<int>* counts = nullptr) const;
    QString pageTitle(const QString& path) const;

private:
    const QString m_bookPath;
    const QString m_cacheFile;
    mutable QMutex m_mutex;   // guards m_index
    TextIndex m_index;
    std::atomic<int> m_done{0};
    std::atomic<int> m_total{-1};
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_fromCache{false};
};

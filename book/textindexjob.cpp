// One build of a book's text index on a worker thread, searched while it runs.

#include "lchmfile.h"
#include "textindex.h"

#include <QMutexLocker>

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
    const TextIndex::CacheStamp identity = TextIndex::cacheStampOf(book);
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

bool TextIndexJob::search(LCHMFile& book, const QString& query, QStringList* results, int limit,
                          QVector<int>* counts) const
{
    QMutexLocker lock(&m_mutex);
    return m_index.search(book, query, results, limit, counts);
}

QString TextIndexJob::pageTitle(const QString& path) const
{
    QMutexLocker lock(&m_mutex);
    return m_index.pageTitle(path);
}

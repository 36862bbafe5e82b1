#pragma once

#include "backgroundrunner.h"
#include "bookorigin.h"

#include <QByteArray>
#include <QHash>
#include <QUrl>
#include <QString>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlSchemeHandler>

class BookRequestInterceptor;

// Serves book pages from the books themselves. The bytes are read on worker threads, and the
// request is answered from the handler's thread when they are there. Each reading thread keeps
// its own reader of a book open for the next request (a few books at most).
//
// Page addresses (pagewick-book://host/path) are served from the book registered for their
// host, to the view itself and to pages of that same book; a request made by any other page
// (another book, a web page) is refused. The book's home page stands for "/". A file that is
// missing and a file that is not a book both answer the same "cannot be opened" page.
//
// Book URLs that pages write into their links ("ms-its:other.chm::/page.htm"): one that names
// the requesting page's own book is served as asked (the page shown, an image, a style sheet)
// or, for a frame, redirected to its page address, so that the frame is of its book's origin;
// any other is refused without looking at the disk, so a page learns nothing of other files.
class BookSchemeHandler : public QWebEngineUrlSchemeHandler
{
    Q_OBJECT
public:
    explicit BookSchemeHandler(QObject* parent = nullptr);

    // Where to learn what a page asks a file for (a style sheet, a script), for files whose
    // names do not tell their type.
    void setInterceptor(BookRequestInterceptor* interceptor) { m_interceptor = interceptor; }
    // The books known by their hosts.
    BookOrigins& origins() { return m_origins; }

    void requestStarted(QWebEngineUrlRequestJob* job) override;

    // The bytes of the page a page address names, as the book holds them. Read on the caller's
    // thread.
    bool readPage(const QUrl& url, QByteArray* data);

private:
    // resourceType: what the page asked for (QWebEngineUrlRequestInfo::ResourceType), -1 to
    // ask the interceptor.
    void servePage(QWebEngineUrlRequestJob* job, const QUrl& url, int resourceType = -1);

    BookOrigins m_origins;
    BookRequestInterceptor* m_interceptor = nullptr;
    // Page bytes are read and decoded here, off the window's thread, on a thread of its own so
    // that a page never waits behind a search or an extraction. One thread: the requests of a
    // page then share one reader of the book (its decoder's window and frames) instead of one
    // per thread.
    BackgroundRunner m_runner{nullptr, 1};
};

// Keeps book pages on the machine and each book to itself: a page of a book may load only
// objects of its own book (no other book, no web address, no local file; data: and blob:
// objects it made itself), and a web page may not reach into books. What the top frame shows
// is decided by the page (BrowserControl), except that a web page never takes it into a book.
class BookRequestInterceptor : public QWebEngineUrlRequestInterceptor
{
    Q_OBJECT
public:
    explicit BookRequestInterceptor(const BookOrigins* origins, QObject* parent = nullptr)
        : QWebEngineUrlRequestInterceptor(parent), m_origins(origins)
    {
    }
    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

    // What a book file was last asked for as: a QWebEngineUrlRequestInfo::ResourceType, or -1.
    int takeResourceType(const QUrl& url);
    // The book a request of a document shown under a book URL was allowed for; empty when none.
    QString takeVettedBook(const QUrl& url);

signals:
    // Queued: emitted after the request was refused.
    void requestBlocked(const QUrl& url);

private:
    const BookOrigins* m_origins;
    QHash<QUrl, int> m_resourceTypes;
    QHash<QUrl, QString> m_vettedBooks;
};

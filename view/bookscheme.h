#pragma once

#include <QDateTime>
#include <QHash>
#include <QUrl>
#include <QString>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlSchemeHandler>

#include <map>
#include <memory>

class BookRequestInterceptor;
class LCHMFile;

// These must run before the QApplication exists.
// Registers the URL schemes of book pages: "mk" (mk:@MSITStore:book::/page.htm) and the
// other-book forms "ms-its" and "its".
void registerBookScheme();
// Chromium refuses to start as root with its sandbox on: as root, switch it off.
void disableSandboxWhenRoot();
// Both of the above, and one renderer process for all book pages: otherwise the engine starts
// a fresh process for every page the view is sent to, which costs more than the page.
void prepareBrowserControl();

// Serves book URLs from the books themselves. One book stays open per book file, opened on
// the first request for it. Book names without a folder (ms-its:other.chm::/page.htm) and
// pages named without a book (mk:/images/logo.gif, from "/"-rooted links) are redirected to
// the whole URL in the current book's folder or the current book.
class BookSchemeHandler : public QWebEngineUrlSchemeHandler
{
    Q_OBJECT
public:
    explicit BookSchemeHandler(QObject* parent = nullptr);
    ~BookSchemeHandler() override;

    // Where to learn what a page asks a file for (a style sheet, a script), for files whose
    // names do not tell their type.
    void setInterceptor(BookRequestInterceptor* interceptor) { m_interceptor = interceptor; }
    // The book of the page shown; relative book names resolve against its folder.
    void setCurrentBook(const QString& bookFile);
    QString currentBook() const { return m_currentBook; }

    void requestStarted(QWebEngineUrlRequestJob* job) override;

    // The bytes of the page a whole book URL names, as the book holds them.
    bool readPage(const QUrl& url, QByteArray* data);

private:
    struct OpenBook
    {
        std::unique_ptr<LCHMFile> file;
        QDateTime modified;
        qint64 size = 0;
    };

    LCHMFile* book(const QString& bookFile);
    static bool readFromBook(LCHMFile* file, const QUrl& url, const QString& inBookPath, QByteArray* data);
    void replyNotice(QWebEngineUrlRequestJob* job, const QString& text);

    QString m_currentBook;
    std::map<QString, OpenBook> m_books;
    BookRequestInterceptor* m_interceptor = nullptr;
};

// Keeps book pages on the machine: a page from a book may load only from books (no web
// addresses, no local files), and a web page may not reach into books. What the top frame
// shows is decided by the page (BrowserControl), not here.
class BookRequestInterceptor : public QWebEngineUrlRequestInterceptor
{
    Q_OBJECT
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override;

    // What a book file was last asked for as: a QWebEngineUrlRequestInfo::ResourceType, or -1.
    int takeResourceType(const QUrl& url);

signals:
    // Queued: emitted after the request was refused.
    void requestBlocked(const QUrl& url);

private:
    QHash<QUrl, int> m_resourceTypes;
};

bool isBookScheme(const QString& scheme);
bool isWebScheme(const QString& scheme);

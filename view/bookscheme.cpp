#include "bookscheme.h"

#include "bookpage.h"
#include "lchmfile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QMetaObject>
#include <QPointer>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestJob>

#include <map>
#include <memory>


namespace {


// Books a page may hold open at once; a page that links into many books does not keep them
// all open.
constexpr int kMaxOpenBooks = 8;

// Requests whose type is remembered for the scheme handler; more are forgotten at once.
constexpr qsizetype kMaxRemembered = 512;

QByteArray mimeTypeFor(const QString& inBookPath, const QByteArray& data, int resourceType)
{
    static const QHash<QString, QByteArray> types = {
        {QStringLiteral("htm"), "text/html"},   {QStringLiteral("html"), "text/html"},
        {QStringLiteral("hhc"), "text/html"},   {QStringLiteral("hhk"), "text/html"},
        {QStringLiteral("stm"), "text/html"},   {QStringLiteral("xhtml"), "application/xhtml+xml"},
        {QStringLiteral("css"), "text/css"},    {QStringLiteral("js"), "text/javascript"},
        {QStringLiteral("gif"), "image/gif"},   {QStringLiteral("png"), "image/png"},
        {QStringLiteral("jpg"), "image/jpeg"},  {QStringLiteral("jpeg"), "image/jpeg"},
        {QStringLiteral("jpe"), "image/jpeg"},  {QStringLiteral("bmp"), "image/bmp"},
        {QStringLiteral("ico"), "image/x-icon"}, {QStringLiteral("svg"), "image/svg+xml"},
        {QStringLiteral("webp"), "image/webp"}, {QStringLiteral("txt"), "text/plain"},
        {QStringLiteral("xml"), "text/xml"},
        {QStringLiteral("stylesheet"), "text/css"}, {QStringLiteral("javascript"), "text/javascript"},
    };
    const QString suffix = QFileInfo(inBookPath).suffix().toLower();
    const auto known = types.constFind(suffix);
    if (known != types.constEnd())
        return known.value();
    // Names that do not tell: what the page asked for decides, as in the browser the books
    // were made for.
    switch (resourceType) {
    case QWebEngineUrlRequestInfo::ResourceTypeStylesheet:
        return "text/css";
    case QWebEngineUrlRequestInfo::ResourceTypeScript:
        return "text/javascript";
    default:
        return QMimeDatabase().mimeTypeForFileNameAndData(inBookPath, data).name().toLatin1();
    }
}

QString inBookPathOf(const QUrl& url)
{
    return QUrl::fromPercentEncoding(url.path(QUrl::FullyEncoded).toUtf8());
}

// How a request for a page address is answered: a redirect, or bytes of a type.
struct Answer
{
    QUrl redirect;
    QByteArray type;
    QByteArray data;
};

Answer notice(const QString& text)
{
    const QString html = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title>"
                                        "</head>\n<body><p>%1</p></body></html>\n")
                             .arg(text.toHtmlEscaped());
    return {QUrl(), QByteArrayLiteral("text/html; charset=utf-8"), html.toUtf8()};
}

// The calling thread's own reader of the book at `bookFile`, kept open for its next request
// (a book changed on disk is opened afresh); null when the file is not a book.
LCHMFile* book(const QString& bookFile)
{
    thread_local std::map<QString, std::unique_ptr<LCHMFile>> books;   // by canonical path

    const BookIdentity identity = BookIdentity::ofPath(bookFile);
    const auto open = books.find(identity.canonicalPath());
    if (open != books.end()) {
        if (open->second->identity() == identity)
            return open->second.get();
        books.erase(open);   // a book changed on disk is opened afresh
    }
    auto file = std::make_unique<LCHMFile>();
    if (!file->openBook(identity.canonicalPath()))
        return nullptr;
    // A page that links into many books does not keep them all open.
    if (books.size() >= kMaxOpenBooks)
        books.clear();
    return (books[identity.canonicalPath()] = std::move(file)).get();
}

// Runs on a reading thread.
Answer answer(const QString& bookFile, const QUrl& url, int resourceType)
{
    LCHMFile* file = book(bookFile);
    if (!file)
        return notice(BookSchemeHandler::tr("This book cannot be opened: %1").arg(bookFile));
    Answer answer;
    const QString inBookPath = inBookPathOf(url);
    if ((inBookPath.isEmpty() || inBookPath == QLatin1String("/")) && !file->homePage().isEmpty()) {
        answer.redirect = url;
        answer.redirect.setPath(file->homePage().startsWith(QLatin1Char('/')) ? file->homePage()
                                                                              : QLatin1Char('/') + file->homePage());
    } else if (!readBookObject(*file, url, inBookPath, &answer.data)) {
        answer = notice(BookSchemeHandler::tr("This page is not in the book: %1").arg(inBookPath));
    } else {
        // A page that names no character set is written in the book's own code page.
        answer.type = contentTypeWithCharset(mimeTypeFor(inBookPath, answer.data, resourceType), answer.data,
                                             file->codecName());
    }
    return answer;
}

} // namespace

BookSchemeHandler::BookSchemeHandler(QObject* parent) : QWebEngineUrlSchemeHandler(parent) {}

bool BookSchemeHandler::readPage(const QUrl& url, QByteArray* data)
{
    const QString bookFile = m_origins.bookOf(url);
    LCHMFile* file = bookFile.isEmpty() ? nullptr : book(bookFile);
    return file && readBookObject(*file, url, inBookPathOf(url), data);
}

void BookSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job)
{
    const QUrl url = job->requestUrl();
    const QUrl initiator = job->initiator();
    if (isPageScheme(url.scheme())) {
        // The view's own loads have no initiator; a page may ask only for its own book.
        if (!initiator.isEmpty() && !(isPageScheme(initiator.scheme()) && initiator.host() == url.host()))
            job->fail(QWebEngineUrlRequestJob::RequestDenied);
        else
            servePage(job, url);
        return;
    }
    // A book URL asked for by a page of the same book is served from that book; nothing else is
    // looked up. A document shown under a book URL has no origin of its book: the book it was
    // registered with, or that the interceptor found for it, stands for it.
    QString ownBook = m_origins.bookOf(initiator);
    if (ownBook.isEmpty())
        ownBook = m_origins.bookOfDocument(url);
    if (ownBook.isEmpty() && m_interceptor)
        ownBook = m_interceptor->takeVettedBook(url);
    const BookLocation place = BookLocation::fromUrl(url);
    const QString named = ownBook.isEmpty() ? QString() : BookOrigins::bookNamedBy(place, ownBook);
    if (named.isEmpty() || bookHost(named) != bookHost(ownBook)) {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    const QUrl page = m_origins.pageUrl(place, ownBook);
    const int resourceType = m_interceptor ? m_interceptor->takeResourceType(url) : -1;
    // A frame goes to its page address, so that it is of its book's origin. The page shown and
    // what a page embeds (an image, a style sheet, a script) are served as asked, with no redirect.
    if (resourceType == QWebEngineUrlRequestInfo::ResourceTypeSubFrame || resourceType < 0)
        job->redirect(page);
    else
        servePage(job, page, resourceType);
}

void BookSchemeHandler::servePage(QWebEngineUrlRequestJob* job, const QUrl& url, int resourceType)
{
    const QString bookFile = m_origins.bookOfHost(url.host());
    if (bookFile.isEmpty()) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    if (resourceType < 0 && m_interceptor)
        resourceType = m_interceptor->takeResourceType(url);
    // The engine deletes a job whose request was cancelled meanwhile.
    const QPointer<QWebEngineUrlRequestJob> waiting(job);
    m_runner.run(
        BackgroundRunner::Lane::Normal, this,
        [bookFile, url, resourceType](const BackgroundRunner::Task&) { return answer(bookFile, url, resourceType); },
        [waiting](const Answer& answer) {
            if (!waiting)
                return;
            if (!answer.redirect.isEmpty()) {
                waiting->redirect(answer.redirect);
                return;
            }
            auto* buffer = new QBuffer(waiting);
            buffer->setData(answer.data);
            waiting->reply(answer.type, buffer);
        });
}

int BookRequestInterceptor::takeResourceType(const QUrl& url)
{
    return m_resourceTypes.take(url.adjusted(QUrl::RemoveFragment));
}

QString BookRequestInterceptor::takeVettedBook(const QUrl& url)
{
    return m_vettedBooks.take(url.adjusted(QUrl::RemoveFragment));
}

void BookRequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info)
{
    const QUrl url = info.requestUrl();
    const QString scheme = url.scheme().toLower();
    const bool intoBook = isPageScheme(scheme) || isBookScheme(scheme);
    if (intoBook) {
        if (m_resourceTypes.size() >= kMaxRemembered)
            m_resourceTypes.clear();
        m_resourceTypes.insert(url.adjusted(QUrl::RemoveFragment), int(info.resourceType()));
    }
    const QUrl initiator = info.initiator();
    bool allowed;
    if (info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame) {
        // The view's own loads have no initiator; a page may take the view only through its
        // own book (a document under a book URL was registered by the view, which vetted it).
        allowed = !intoBook || initiator.isEmpty() || (m_origins && m_origins->isOwnBook(initiator, url))
            || (m_origins && isBookScheme(scheme) && !m_origins->bookOfDocument(url).isEmpty());
    } else if (intoBook) {
        allowed = m_origins && m_origins->isOwnBook(initiator, url);
        // A document shown under a book URL has no origin of its book; what it embeds is
        // known by the document on top.
        const QUrl top = info.firstPartyUrl();
        if (!allowed && m_origins && m_origins->bookOf(initiator).isEmpty() && !m_origins->bookOfDocument(top).isEmpty()
            && m_origins->isOwnBook(top, url)) {
            allowed = true;
            if (m_vettedBooks.size() >= kMaxRemembered)
                m_vettedBooks.clear();
            m_vettedBooks.insert(url.adjusted(QUrl::RemoveFragment), m_origins->bookOfDocument(top));
        }
    } else if (isWebScheme(info.firstPartyUrl().scheme())) {
        allowed = scheme != QLatin1String("file");
    } else {
        allowed = scheme == QLatin1String("data") || scheme == QLatin1String("blob");
    }
    if (allowed)
        return;
    info.block(true);
    QMetaObject::invokeMethod(this, [this, url] { emit requestBlocked(url); }, Qt::QueuedConnection);
}

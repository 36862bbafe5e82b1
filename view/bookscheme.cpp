#include "bookscheme.h"

#include "bookpage.h"
#include "bookurl.h"
#include "lchmfile.h"

#include <QBuffer>
#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QMetaObject>
#include <QPointer>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>

#include <unistd.h>

namespace {

// The schemes of the book URLs pages write.
const QLatin1String kBookUrlSchemes[] = {QLatin1String("mk"), QLatin1String("ms-its"), QLatin1String("its")};

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
    struct OpenBook
    {
        std::unique_ptr<LCHMFile> file;
        QDateTime modified;
        qint64 size = 0;
    };
    thread_local std::map<QString, OpenBook> books;

    const QFileInfo info(bookFile);
    if (!info.isFile())
        return nullptr;
    const QString key = info.absoluteFilePath();
    auto open = books.find(key);
    if (open != books.end()) {
        if (open->second.modified == info.lastModified() && open->second.size == info.size())
            return open->second.file.get();
        books.erase(open);
    }
    auto file = std::make_unique<LCHMFile>();
    if (!file->openBook(key))
        return nullptr;
    // A page that links into many books does not keep them all open.
    if (books.size() >= kMaxOpenBooks)
        books.clear();
    OpenBook& entry = books[key];
    entry.file = std::move(file);
    entry.modified = info.lastModified();
    entry.size = info.size();
    return entry.file.get();
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

void registerBookScheme()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    // No "local" flags: Chromium then treats book pages like web content and refuses them
    // every file:// URL by itself, while links, images, style sheets and scripts inside the
    // book load as usual. (As a local scheme, pages could only load their own images with
    // LocalAccessAllowed, which also opens file:// to them.) Page addresses have a host, which
    // makes each book an origin of its own.
    for (const QByteArray& name : handledSchemes()) {
        QWebEngineUrlScheme scheme(name);
        if (isPageScheme(QString::fromLatin1(name))) {
            scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
            scheme.setDefaultPort(QWebEngineUrlScheme::PortUnspecified);
        } else {
            scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
        }
        scheme.setFlags({});
        QWebEngineUrlScheme::registerScheme(scheme);
    }
}

QList<QByteArray> handledSchemes()
{
    QList<QByteArray> schemes = {pageScheme().toLatin1()};
    for (const QLatin1String name : kBookUrlSchemes)
        schemes << QByteArray(name.data(), name.size());
    return schemes;
}

void disableSandboxWhenRoot()
{
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

void prepareBrowserControl()
{
    disableSandboxWhenRoot();
    registerBookScheme();
    // What a reader of books needs from the engine, and no more. One renderer per book rather
    // than per page (a process per page made every page cost a process start), and one renderer
    // at all. No WebRTC over UDP, so a book's script cannot reach the network through STUN
    // either. Pages are drawn in software: no GPU process or GL driver (the driver alone holds
    // tens of MiB), which a page of text and pictures does not miss. Without the sandbox the
    // zygotes, which only serve it, are not started either. A switch the caller already gives
    // in QTWEBENGINE_CHROMIUM_FLAGS, with any value, is left as given.
    QList<QByteArray> wanted = {QByteArrayLiteral("--process-per-site"),
                                QByteArrayLiteral("--renderer-process-limit=1"),
                                QByteArrayLiteral("--force-webrtc-ip-handling-policy=disable_non_proxied_udp"),
                                QByteArrayLiteral("--disable-gpu"),
                                QByteArrayLiteral("--disable-gpu-compositing")};
    // "--name=value" and "--name" both name the switch "--name".
    const auto switchName = [](const QByteArray& flag) {
        const qsizetype equals = flag.indexOf('=');
        return equals < 0 ? flag : flag.left(equals);
    };
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    QList<QByteArray> present;
    for (const QByteArray& flag : flags.split(' '))
        present << switchName(flag);
    if (qEnvironmentVariableIntValue("QTWEBENGINE_DISABLE_SANDBOX") != 0 || present.contains("--no-sandbox"))
        wanted << QByteArrayLiteral("--no-zygote");
    for (const QByteArray& flag : std::as_const(wanted)) {
        if (present.contains(switchName(flag)))
            continue;
        if (!flags.isEmpty())
            flags += ' ';
        flags += flag;
    }
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    // The window side of the same: the view's scene drawn in software, and no GL loaded for it.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
}

bool isBookScheme(const QString& scheme)
{
    return std::any_of(std::begin(kBookUrlSchemes), std::end(kBookUrlSchemes),
                       [&](QLatin1String name) { return scheme.compare(name, Qt::CaseInsensitive) == 0; });
}

bool isWebScheme(const QString& scheme)
{
    const QString s = scheme.toLower();
    return s == QLatin1String("http") || s == QLatin1String("https") || s == QLatin1String("ftp");
}

BookSchemeHandler::BookSchemeHandler(QObject* parent) : QWebEngineUrlSchemeHandler(parent) {}

BookSchemeHandler::~BookSchemeHandler() = default;

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
        if (!initiator.isEmpty() && !(isPageScheme(initiator.scheme()) && initiator.host() == url.host())) {
            job->fail(QWebEngineUrlRequestJob::RequestDenied);
            return;
        }
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
    const BookLocation place = bookLocationOf(url);
    const QString named = ownBook.isEmpty() ? QString() : BookOrigins::bookNamedBy(place, ownBook);
    if (named.isEmpty() || bookHost(named) != bookHost(ownBook)) {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    const QUrl page = m_origins.pageUrl(place, ownBook);
    const int resourceType = m_interceptor ? m_interceptor->takeResourceType(url) : -1;
    if (resourceType == QWebEngineUrlRequestInfo::ResourceTypeSubFrame || resourceType < 0) {
        // A frame goes to its page address, so that it is of its book's origin.
        job->redirect(page);
        return;
    }
    // The page shown and what a page embeds (an image, a style sheet, a script) are served as
    // asked, with no redirect.
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

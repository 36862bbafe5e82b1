#include "bookscheme.h"

#include "bookpage.h"
#include "bookurl.h"
#include "lchmfile.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QMetaObject>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include <unistd.h>

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
    // LocalAccessAllowed, which also opens file:// to them.)
    for (const QByteArray& name : {QByteArrayLiteral("mk"), QByteArrayLiteral("ms-its"), QByteArrayLiteral("its")}) {
        QWebEngineUrlScheme scheme(name);
        scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
        scheme.setFlags({});
        QWebEngineUrlScheme::registerScheme(scheme);
    }
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
    // One renderer for all book pages (a process per page made every page cost a process
    // start), and no WebRTC over UDP, so a book's script cannot reach the network through
    // STUN either.
    const QByteArray wanted[] = {QByteArrayLiteral("--process-per-site"),
                                 QByteArrayLiteral("--force-webrtc-ip-handling-policy=disable_non_proxied_udp")};
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    const QList<QByteArray> present = flags.split(' ');
    for (const QByteArray& flag : wanted) {
        if (present.contains(flag))
            continue;
        if (!flags.isEmpty())
            flags += ' ';
        flags += flag;
    }
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}

bool isBookScheme(const QString& scheme)
{
    const QString s = scheme.toLower();
    return s == QLatin1String("mk") || s == QLatin1String("ms-its") || s == QLatin1String("its");
}

bool isWebScheme(const QString& scheme)
{
    const QString s = scheme.toLower();
    return s == QLatin1String("http") || s == QLatin1String("https") || s == QLatin1String("ftp");
}

BookSchemeHandler::BookSchemeHandler(QObject* parent) : QWebEngineUrlSchemeHandler(parent) {}

BookSchemeHandler::~BookSchemeHandler() = default;

void BookSchemeHandler::setCurrentBook(const QString& bookFile)
{
    m_currentBook = bookFile;
}

LCHMFile* BookSchemeHandler::book(const QString& bookFile)
{
    const QFileInfo info(bookFile);
    if (!info.isFile())
        return nullptr;
    const QString key = info.absoluteFilePath();
    auto open = m_books.find(key);
    if (open != m_books.end()) {
        // A book changed on disk is opened afresh.
        if (open->second.modified == info.lastModified() && open->second.size == info.size())
            return open->second.file.get();
        m_books.erase(open);
    }
    auto file = std::make_unique<LCHMFile>();
    if (!file->openBook(key))
        return nullptr;
    if (m_books.size() >= kMaxOpenBooks)
        m_books.clear();
    OpenBook& entry = m_books[key];
    entry.file = std::move(file);
    entry.modified = info.lastModified();
    entry.size = info.size();
    return entry.file.get();
}

bool BookSchemeHandler::readFromBook(LCHMFile* file, const QUrl& url, const QString& inBookPath, QByteArray* data)
{
    return readBookObject(*file, url, inBookPath, data);
}

bool BookSchemeHandler::readPage(const QUrl& url, QByteArray* data)
{
    QString bookFile;
    QString inBookPath;
    if (!splitBookUrl(url, &bookFile, &inBookPath) || bookFile.isEmpty() || QFileInfo(bookFile).isRelative())
        return false;
    LCHMFile* file = book(bookFile);
    return file && readFromBook(file, url, inBookPath, data);
}

void BookSchemeHandler::replyNotice(QWebEngineUrlRequestJob* job, const QString& text)
{
    const QString html = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title>"
                                        "</head>\n<body><p>%1</p></body></html>\n")
                             .arg(text.toHtmlEscaped());
    auto* buffer = new QBuffer(job);
    buffer->setData(html.toUtf8());
    job->reply(QByteArrayLiteral("text/html; charset=utf-8"), buffer);
}

void BookSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job)
{
    const QUrl url = job->requestUrl();
    QString bookFile;
    QString inBookPath;
    if (!splitBookUrl(url, &bookFile, &inBookPath)) {
        job->fail(QWebEngineUrlRequestJob::UrlInvalid);
        return;
    }

    // Complete what the URL leaves out, then let the browser ask again for the whole URL, so
    // that the address it shows and resolves links against names the book in full.
    bool redirect = url.scheme().toLower() != QLatin1String("mk");
    if (bookFile.isEmpty()) {
        bookFile = m_currentBook;
        redirect = true;
    } else if (QFileInfo(bookFile).isRelative()) {
        const QString folder = m_currentBook.isEmpty() ? QDir::currentPath() : QFileInfo(m_currentBook).absolutePath();
        bookFile = QDir::cleanPath(QDir(folder).absoluteFilePath(bookFile));
        redirect = true;
    }
    if (inBookPath.isEmpty() || inBookPath == QLatin1String("/")) {
        LCHMFile* file = book(bookFile);
        if (file && !file->homePage().isEmpty()) {
            inBookPath = file->homePage();
            redirect = true;
        }
    }
    if (redirect && !bookFile.isEmpty()) {
        QUrl target = urlFromText(makeBookUrl(bookFile, QString::fromLatin1(QUrl::toPercentEncoding(inBookPath, "/"))));
        if (url.hasQuery())
            target.setQuery(url.query(QUrl::FullyEncoded), QUrl::StrictMode);
        if (url.hasFragment())
            target.setFragment(url.fragment(QUrl::FullyEncoded), QUrl::StrictMode);
        job->redirect(target);
        return;
    }

    LCHMFile* file = book(bookFile);
    if (!file) {
        replyNotice(job, tr("This book cannot be opened: %1").arg(bookFile));
        return;
    }
    QByteArray data;
    if (!readFromBook(file, url, inBookPath, &data)) {
        replyNotice(job, tr("This page is not in the book: %1").arg(inBookPath));
        return;
    }

    const int resourceType = m_interceptor ? m_interceptor->takeResourceType(url) : -1;
    // A page that names no character set is written in the book's own code page.
    const QByteArray type = contentTypeWithCharset(mimeTypeFor(inBookPath, data, resourceType), data, file->codecName());
    auto* buffer = new QBuffer(job);
    buffer->setData(data);
    job->reply(type, buffer);
}

int BookRequestInterceptor::takeResourceType(const QUrl& url)
{
    return m_resourceTypes.take(url.adjusted(QUrl::RemoveFragment));
}

void BookRequestInterceptor::interceptRequest(QWebEngineUrlRequestInfo& info)
{
    const QUrl url = info.requestUrl();
    const QString scheme = url.scheme().toLower();
    if (isBookScheme(scheme)) {
        if (m_resourceTypes.size() >= kMaxRemembered)
            m_resourceTypes.clear();
        m_resourceTypes.insert(url.adjusted(QUrl::RemoveFragment), int(info.resourceType()));
    }
    if (info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame)
        return;
    const bool onWebPage = isWebScheme(info.firstPartyUrl().scheme());
    bool allowed;
    if (isBookScheme(scheme))
        allowed = !onWebPage;
    else if (onWebPage)
        allowed = scheme != QLatin1String("file");
    else
        allowed = scheme == QLatin1String("data") || scheme == QLatin1String("blob");
    if (allowed)
        return;
    info.block(true);
    QMetaObject::invokeMethod(this, [this, url] { emit requestBlocked(url); }, Qt::QueuedConnection);
}

#include "bookpdfexport.h"

#include "backgroundrunner.h"
#include "bookexportplan.h"
#include "bookorigin.h"
#include "booklocation.h"
#include "browsercontrol.h"
#include "pdfbinder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <algorithm>
#include <csignal>
#include <sys/types.h>

Q_LOGGING_CATEGORY(lcExport, "pagewick.view.export", QtWarningMsg)

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("BookExport", text);
}

// A count with its noun, in English without a translation loaded ("1 page", "3 pages").
QString counted(int n, const char* one, const char* many)
{
    return (n == 1 ? tr(one) : tr(many)).arg(n);
}

// Where a link the engine wrote on a page leads in the bound PDF. Pages are printed under their
// page addresses (bookorigin.h), so their links to pages of the same book carry the book's
// host; links written as book URLs ("ms-its:other.chm::/a.htm") keep that form.
class LinkMapper
{
public:
    LinkMapper(const QString& bookPath, const QSet<QString>& keys)
        : m_bookPath(QFileInfo(bookPath).absoluteFilePath()), m_host(bookHost(bookPath)), m_keys(keys)
    {
    }

    PdfBinder::LinkTarget operator()(const QString& uri) const
    {
        using Kind = PdfBinder::LinkTarget::Kind;
        const QUrl url(uri);
        BookLocation place;
        if (isPageScheme(url.scheme())) {
            if (url.host() != m_host)
                return {};   // a book the page was shown beside; nothing outside can open it
            place = BookLocation(m_bookPath, url.path(QUrl::FullyEncoded));
        } else if (isBookScheme(url.scheme())) {
            place = BookLocation::fromUrl(url);
            const QString book = BookOrigins::bookNamedBy(place, m_bookPath);
            if (book.isEmpty())
                return {};
            place = BookLocation(QFileInfo(book).absoluteFilePath(), place.path(), place.fragment());
        } else {
            return {};   // web and mail links keep their address
        }
        const QString key = bookPageKey(place.path());
        if (QFileInfo(place.bookFile()) == QFileInfo(m_bookPath) && m_keys.contains(key))
            return {Kind::Topic, key};
        return {Kind::Uri, QString::fromLatin1(QUrl(place.toStoreUrl()).toEncoded())};
    }

private:
    QString m_bookPath;
    QString m_host;
    QSet<QString> m_keys;
};

} // namespace

struct BookPdfExport::Private
{
    explicit Private(BackgroundRunner& r) : runner(r) {}

    BackgroundRunner& runner;
    PdfExportRequest request;
    BookExportPlan plan;
    bool running = false;
    bool cancelled = false;
    CancelToken writing;
    int current = -1;
    enum class Step { Idle, Loading, Printing } step = Step::Idle;
    std::unique_ptr<BrowserControl> control;
    std::shared_ptr<PdfBinder> binder;
    std::shared_ptr<QTemporaryDir> pagesDir;
    QTimer pageTimer;
    QStringList skipped;
    int written = 0;

    void newControl(BookPdfExport* owner)
    {
        control = std::make_unique<BrowserControl>();
        control->setAttribute(Qt::WA_DontShowOnScreen);
        control->setBookPath(request.bookPath);
        control->setWebLinkHandler([](const QUrl&) {});   // nobody clicks here
        QObject::connect(control.get(), &BrowserControl::documentComplete, owner, &BookPdfExport::pageLoaded);
    }
};

BookPdfExport::BookPdfExport(BackgroundRunner& runner, QObject* parent)
    : QObject(parent), d(std::make_unique<Private>(runner))
{
    d->pageTimer.setSingleShot(true);
    connect(&d->pageTimer, &QTimer::timeout, this, &BookPdfExport::pageTimedOut);
}

BookPdfExport::~BookPdfExport()
{
    d->writing.cancel();
}

bool BookPdfExport::isRunning() const
{
    return d->running;
}

QStringList BookPdfExport::skippedPages() const
{
    return d->skipped;
}

int BookPdfExport::pagesWritten() const
{
    return d->written;
}

bool BookPdfExport::start(const PdfExportRequest& request)
{
    if (d->running)
        return false;
    d->running = true;
    d->cancelled = false;
    d->request = request;
    // Pages name the book by its full path: a relative one would be taken against its own folder.
    d->request.bookPath = QFileInfo(request.bookPath).absoluteFilePath();
    d->skipped.clear();
    d->written = 0;
    d->current = -1;
    d->writing = CancelToken();
    struct Planned
    {
        bool ok;
        QString error;
        BookExportPlan plan;
    };
    d->runner.run(
        BackgroundRunner::Lane::Normal, this,
        [request = d->request](const BackgroundRunner::Task&) {
            Planned result;
            result.ok = planBookExport(request.bookPath, request.chapter, &result.plan, &result.error,
                                       request.maxEntries);
            return result;
        },
        [this](Planned result) {
            d->plan = std::move(result.plan);
            planned(result.ok, result.error);
        },
        QStringLiteral("pdf export plan"));
    return true;
}

void BookPdfExport::cancel()
{
    if (!d->running || d->cancelled)
        return;
    d->cancelled = true;
    d->writing.cancel();
    // While pages are printed, the export ends at once; the writer notices on its own.
    if (d->step != Private::Step::Idle || d->current >= 0) {
        d->pageTimer.stop();
        d->step = Private::Step::Idle;
        QMetaObject::invokeMethod(this, [this] { finish(false, tr("The export was cancelled.")); },
                                  Qt::QueuedConnection);
    }
}

void BookPdfExport::planned(bool ok, const QString& error)
{
    if (d->cancelled) {
        finish(false, tr("The export was cancelled."));
        return;
    }
    if (!ok) {
        finish(false, error);
        return;
    }
    d->pagesDir = std::make_shared<QTemporaryDir>();
    if (!d->pagesDir->isValid()) {
        finish(false, tr("No temporary folder for the pages: %1").arg(d->pagesDir->errorString()));
        return;
    }
    d->binder = std::make_shared<PdfBinder>();
    if (d->plan.pagesLeftOut > 0)
        emit note(counted(d->plan.pagesLeftOut, "%1 page that the contents does not name is not added.",
                         "%1 pages that the contents does not name are not added."));
    for (const QString& target : std::as_const(d->plan.missingTargets))
        d->skipped << tr("%1 (the book does not hold it)").arg(target);
    d->newControl(this);
    nextPage();
}

void BookPdfExport::nextPage()
{
    if (!d->running || d->cancelled)
        return;
    ++d->current;
    if (d->current >= d->plan.pages.size()) {
        d->current = -1;
        writePdf();
        return;
    }
    emit progress(d->current + 1, int(d->plan.pages.size()));
    d->step = Private::Step::Loading;
    d->pageTimer.start(d->request.pageTimeoutMs);
    d->control->navigate(BookLocation(d->request.bookPath, d->plan.pages.at(d->current).path));
}

void BookPdfExport::pageLoaded(bool hasDocument)
{
    if (d->step != Private::Step::Loading)
        return;
    if (!hasDocument) {
        skipPage(tr("it did not load"));
        return;
    }
    d->step = Private::Step::Printing;
    const int page = d->current;
    d->control->pdfOfPage(d->request.layout, [this, page](const QByteArray& pdf) {
        if (d->step == Private::Step::Printing && d->current == page)
            pagePrinted(pdf);
    });
}

void BookPdfExport::pagePrinted(const QByteArray& pdf)
{
    d->pageTimer.stop();
    d->step = Private::Step::Idle;
    if (pdf.isEmpty()) {
        skipPage(tr("it could not be printed"));
        return;
    }
    // Keeping the page's PDF and taking its page objects into the binder read and write files:
    // done on the runner, one page at a time, so the window's thread never waits for a disk.
    struct Appended
    {
        bool kept = false;   // the file could be written
        bool ok = false;
        QString error;
    };
    auto binder = d->binder;
    const QString file = d->pagesDir->filePath(QStringLiteral("%1.pdf").arg(d->current));
    const QString topic = bookPageKey(d->plan.pages.at(d->current).path);
    d->runner.run(
        BackgroundRunner::Lane::Normal, this,
        [binder, file, topic, pdf](const BackgroundRunner::Task&) {
            Appended result;
            QFile out(file);
            result.kept = out.open(QIODevice::WriteOnly) && out.write(pdf) == pdf.size() && out.flush();
            result.error = out.errorString();
            out.close();
            if (result.kept) {
                result.ok = binder->appendFile(file, topic);
                result.error = binder->errorString();
            }
            return result;
        },
        [this, binder](Appended result) {
            if (!d->running || d->cancelled || binder != d->binder)
                return;
            if (!result.kept)
                finish(false, tr("The pages cannot be kept in %1: %2").arg(d->pagesDir->path(), result.error));
            else if (!result.ok)
                skipPage(result.error);
            else
                nextPage();
        });
}

void BookPdfExport::skipPage(const QString& reason)
{
    d->pageTimer.stop();
    d->step = Private::Step::Idle;
    const QString text = QStringLiteral("%1 (%2)").arg(d->plan.pages.at(d->current).path, reason);
    d->skipped << text;
    qCInfo(lcExport) << "skipped" << text;
    emit note(tr("Skipped %1").arg(text));
    QMetaObject::invokeMethod(this, &BookPdfExport::nextPage, Qt::QueuedConnection);
}

void BookPdfExport::pageTimedOut()
{
    if (d->step == Private::Step::Idle)
        return;
    // The page's renderer is still busy (a script that never ends holds it): end that process,
    // which serves only this export's pages, and go on with a control of its own.
    if (QWebEngineView* view = d->control->webView(); view && view->page()) {
        const qint64 pid = view->page()->renderProcessPid();
        if (pid > 0)
            ::kill(pid_t(pid), SIGKILL);
    }
    d->control.release()->deleteLater();
    d->newControl(this);
    skipPage(counted(std::max(1, d->request.pageTimeoutMs / 1000), "it did not finish within %1 second",
                     "it did not finish within %1 seconds"));
}

void BookPdfExport::writePdf()
{
    d->step = Private::Step::Idle;
    d->control.reset();
    if (d->binder->pageCount() == 0) {
        finish(false, tr("No page could be printed."));
        return;
    }
    QVector<PdfBinder::OutlineItem> outline;
    QSet<QString> keys;
    for (const BookExportPlan::Page& page : std::as_const(d->plan.pages)) {
        const QString key = bookPageKey(page.path);
        if (d->binder->hasTopic(key))
            keys.insert(key);
    }
    for (const BookExportPlan::OutlineItem& item : std::as_const(d->plan.outline)) {
        QString key = item.page >= 0 ? bookPageKey(d->plan.pages.at(item.page).path) : QString();
        outline.append({item.title, item.depth, d->binder->hasTopic(key) ? key : QString()});
    }
    // A heading without a page of its own leads to the first page under it.
    for (qsizetype i = outline.size() - 2; i >= 0; --i) {
        if (outline[i].topic.isEmpty() && outline[i + 1].depth > outline[i].depth)
            outline[i].topic = outline[i + 1].topic;
    }
    d->binder->setOutline(outline);
    d->binder->setTitle(d->plan.bookTitle);
    d->written = d->binder->pageCount();
    emit note(counted(d->written, "Writing %1 PDF page", "Writing %1 PDF pages"));
    struct Written
    {
        bool ok;
        QString error;
    };
    // The binder and the pages' files go with the task: they outlive this object if need be,
    // and are freed and removed on the worker (thousands of page objects and files take a
    // while to go).
    auto binder = std::move(d->binder);
    auto pagesDir = std::move(d->pagesDir);
    const CancelToken token = d->writing;
    const LinkMapper mapper(d->request.bookPath, keys);
    const QString output = d->request.outputPath;
    d->runner.run(
        BackgroundRunner::Lane::Normal, this,
        [binder, pagesDir, token, mapper, output](const BackgroundRunner::Task& task) {
            // Cancelled by the reader, or by the runner when the window closes.
            Written result;
            result.ok = binder->write(output, mapper, [token, &task] { return token.isCancelled() || task.isCancelled(); });
            result.error = binder->errorString();
            return result;
        },
        [this](Written result) {
            if (!result.ok) {
                finish(false, d->cancelled ? tr("The export was cancelled.")
                                           : tr("The PDF could not be written: %1").arg(result.error));
                return;
            }
            QString message = counted(d->written, "Wrote %1 page to %2.", "Wrote %1 pages to %2.")
                                  .arg(QDir::toNativeSeparators(d->request.outputPath));
            if (!d->skipped.isEmpty())
                message += QLatin1Char('\n') + tr("Skipped: %1").arg(d->skipped.join(QLatin1String("; ")));
            finish(true, message);
        },
        QStringLiteral("pdf export write"));
}

void BookPdfExport::finish(bool ok, const QString& message)
{
    if (!d->running)
        return;
    d->running = false;
    d->step = Private::Step::Idle;
    d->pageTimer.stop();
    d->current = -1;
    if (d->control)
        d->control.release()->deleteLater();
    // A write still under way holds the binder and the folder itself and removes them after.
    d->binder.reset();
    d->pagesDir.reset();
    emit finished(ok, message);
}

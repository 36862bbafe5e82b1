// What a page shown in the browser control may navigate to: the page under the control and
// the stand-in for new windows hand every navigation to BrowserControl::acceptNavigation, which
// keeps each book to itself and sends web links the reader clicks to the desktop (see
// browsercontrol.h). What a page may load besides is the request interceptor's to say
// (bookscheme.h).

#include "navigationpolicy.h"

#include "bookorigin.h"
#include "browsercontrol.h"
#include "pagescript.h"

#include <QDesktopServices>
#include <QLoggingCategory>
#include <QPointer>
#include <QWebEngineProfile>
#include <QWebEngineScript>

Q_LOGGING_CATEGORY(lcPageConsole, "pagewick.page.console", QtWarningMsg)

namespace {

// Navigations the view makes itself (navigate, back and forward, reload), as opposed to those
// a page's link, form or script starts.
bool isViewsOwn(QWebEnginePage::NavigationType type)
{
    return type == QWebEnginePage::NavigationTypeTyped || type == QWebEnginePage::NavigationTypeBackForward
        || type == QWebEnginePage::NavigationTypeReload;
}

} // namespace

// Stands in for a new window: hands the address it is sent to over to the book page, under
// the rules for what a page may start, and goes away.
class NewWindowPage : public QWebEnginePage
{
public:
    NewWindowPage(QWebEngineProfile* profile, QWebEnginePage* owner, BrowserControl* control)
        : QWebEnginePage(profile, owner), m_owner(owner), m_control(control)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if (!isMainFrame || m_handedOver)
            return false;
        m_handedOver = true;
        if (m_owner && m_control && m_control->acceptNavigation(url, type, true, true)) {
            QMetaObject::invokeMethod(m_owner, [owner = m_owner, url] {
                if (owner)
                    owner->load(url);
            }, Qt::QueuedConnection);
        }
        deleteLater();
        return false;
    }

private:
    QPointer<QWebEnginePage> m_owner;
    QPointer<BrowserControl> m_control;
    bool m_handedOver = false;
};

// The page under the control: hands every navigation to the control's rules.
class BookPage : public QWebEnginePage
{
public:
    BookPage(QWebEngineProfile* profile, BrowserControl* control)
        : QWebEnginePage(profile, control), m_control(control)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        return m_control && m_control->acceptNavigation(url, type, isMainFrame, false);
    }

    // Links and scripts that ask for a new window open their page in this one.
    QWebEnginePage* createWindow(WebWindowType) override { return new NewWindowPage(profile(), this, m_control); }

    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int line,
                                  const QString& source) override
    {
        qCDebug(lcPageConsole) << source << line << message;
    }

private:
    QPointer<BrowserControl> m_control;
};

QWebEnginePage* newBookPage(QWebEngineProfile* profile, BrowserControl* control)
{
    return new BookPage(profile, control);
}

void BrowserControl::refuse(const QUrl& url)
{
    QMetaObject::invokeMethod(this, [this, url] { emit requestBlocked(url); }, Qt::QueuedConnection);
}

void BrowserControl::loadLater(const QUrl& url)
{
    QMetaObject::invokeMethod(this, [this, url] { m_page->load(url); }, Qt::QueuedConnection);
}

void BrowserControl::ifReaderClicked(const QUrl& url, std::function<void()> follow)
{
    // Asked once the page has sent the navigation on: its click handlers have run by then.
    QPointer<BrowserControl> self(this);
    QMetaObject::invokeMethod(this, [self, url, follow = std::move(follow)] {
        if (!self)
            return;
        self->m_page->runJavaScript(PageScript::call(QStringLiteral("takeClickedLink()")),
                                    QWebEngineScript::ApplicationWorld,
                                    [self, url, follow](const QVariant& clicked) {
                                        if (!self)
                                            return;
                                        if (!clicked.toString().isEmpty() && QUrl(clicked.toString()) == url)
                                            QMetaObject::invokeMethod(self, follow, Qt::QueuedConnection);
                                        else
                                            self->refuse(url);
                                    });
    }, Qt::QueuedConnection);
}

bool BrowserControl::acceptNavigation(const QUrl& url, QWebEnginePage::NavigationType type, bool isMainFrame,
                                      bool newWindow)
{
    const QString scheme = url.scheme().toLower();
    const QUrl shown = m_page->url();
    const bool onWebPage = isWebScheme(shown.scheme());
    const bool viewsOwn = isViewsOwn(type) && !newWindow;
    const bool intoBook = isPageScheme(scheme) || isBookScheme(scheme);
    bool allowed = true;
    if (scheme == QLatin1String("file")) {
        allowed = false;
    } else if (!isMainFrame && !onWebPage && type == QWebEnginePage::NavigationTypeLinkClicked
               && (isWebScheme(scheme) || (isBookScheme(scheme) && !origins().isOwnBook(shown, url)))) {
        // The reader's click in a frame on a link to the web or another book leads there as
        // from the top page, and the frame stays.
        return acceptNavigation(url, type, true, true);
    } else if (!isMainFrame) {
        // What a frame may show is the request interceptor's to say; never the web in a book.
        allowed = onWebPage || !isWebScheme(scheme);
    } else if (intoBook && onWebPage) {
        // A web page never takes the view into a book.
        allowed = viewsOwn;
        if (allowed && isBookScheme(scheme)) {
            loadLater(origins().pageUrl(BookLocation::fromUrl(url), m_bookPath));
            return false;
        }
    } else if (isPageScheme(scheme)) {
        // Within the book shown anything goes; another book only where the view goes itself.
        allowed = viewsOwn || url.host() == shown.host();
    } else if (isBookScheme(scheme)) {
        // A book URL is loaded as its page address: at once within the book shown, after the
        // reader's own click into another book, otherwise never.
        const QString shownBook = origins().bookOf(shown);
        const QString relativeTo = shownBook.isEmpty() ? m_bookPath : shownBook;
        const BookLocation place = BookLocation::fromUrl(url);
        const QString target = BookOrigins::bookNamedBy(place, relativeTo);
        if (!target.isEmpty() && !viewsOwn && origins().isOwnBook(shown, url)) {
            // A page of the book asks for a page of its own book by a book URL: it is served
            // under that address, as asked. (Under its page address, a page that checks its
            // own address would ask again at every load, for ever.)
            origins().registerDocument(url, target);
            return true;
        }
        if (viewsOwn && !origins().bookOfDocument(url).isEmpty())
            return true;   // back, forward or reload to a document shown so
        if (!target.isEmpty() && viewsOwn)
            loadLater(origins().pageUrl(place, relativeTo));
        else if (!target.isEmpty() && type == QWebEnginePage::NavigationTypeLinkClicked)
            ifReaderClicked(url, [this, place, relativeTo] { m_page->load(origins().pageUrl(place, relativeTo)); });
        else
            refuse(url);
        return false;
    } else if (isWebScheme(scheme) && !onWebPage && !viewsOwn) {
        // From a book page the web is reached only by the reader's click on a link, and then in
        // the desktop's browser.
        if (type == QWebEnginePage::NavigationTypeLinkClicked)
            ifReaderClicked(url, [this, url] { m_webLinkHandler ? m_webLinkHandler(url) : void(QDesktopServices::openUrl(url)); });
        else
            refuse(url);
        return false;
    }
    if (!allowed)
        refuse(url);
    return allowed;
}

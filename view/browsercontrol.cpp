#include "browsercontrol.h"

#include "bookorigin.h"
#include "bookscheme.h"
#include "browserengine.h"
#include "navigationpolicy.h"
#include "pagescript.h"

#include <QColor>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QEventLoop>
#include <QMimeData>
#include <QPointer>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWebEngineDownloadRequest>
#include <QWebEngineHistory>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <memory>

constexpr auto kWorld = QWebEngineScript::ApplicationWorld;

BrowserControl::BrowserControl(QWidget* parent) : QWidget(parent)
{
    // A profile of our own, off the record: nothing is written to disk. Pages come from the
    // book files, which read faster than any cache would, so nothing is cached in memory either.
    m_profile = new QWebEngineProfile(this);
    m_profile->setSpellCheckEnabled(false);
    m_profile->setHttpCacheType(QWebEngineProfile::NoCache);
    QWebEngineSettings* settings = m_profile->settings();
    for (const auto off : {QWebEngineSettings::LocalContentCanAccessFileUrls, QWebEngineSettings::LocalContentCanAccessRemoteUrls,
                           QWebEngineSettings::DnsPrefetchEnabled, QWebEngineSettings::PluginsEnabled,
                           QWebEngineSettings::AutoLoadIconsForPage})
        settings->setAttribute(off, false);
    settings->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);

    m_schemeHandler = new BookSchemeHandler(this);
    for (const QByteArray& scheme : handledSchemes())
        m_profile->installUrlSchemeHandler(scheme, m_schemeHandler);
    m_interceptor = new BookRequestInterceptor(&m_schemeHandler->origins(), this);
    m_profile->setUrlRequestInterceptor(m_interceptor);
    m_schemeHandler->setInterceptor(m_interceptor);
    connect(m_interceptor, &BookRequestInterceptor::requestBlocked, this, &BrowserControl::requestBlocked);

    QWebEngineScript script;
    script.setName(QStringLiteral("pagewick"));
    script.setSourceCode(PageScript::definition());
    script.setWorldId(kWorld);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    // In frames too, where it notes the reader's clicks for the top page to take.
    script.setRunsOnSubFrames(true);
    m_profile->scripts()->insert(script);
    installColorsScript();

    m_page = newBookPage(m_profile, this);
    m_view = new QWebEngineView(this);
    m_view->setPage(m_page);
    // Right clicks are handed to the widgets around the view, which own the context menu.
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, m_view->mapTo(this, pos), m_view->mapToGlobal(pos));
        QCoreApplication::sendEvent(this, &event);
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view);
    setFocusProxy(m_view);
    watchForDrops(m_view);

    connect(m_page, &QWebEnginePage::loadStarted, this, &BrowserControl::onLoadStarted);
    connect(m_page, &QWebEnginePage::urlChanged, this, &BrowserControl::onUrlChanged);
    connect(m_page, &QWebEnginePage::loadFinished, this, &BrowserControl::onLoadFinished);
    // Screen readers name the page by its title (a page without one is "Page"). The engine's
    // widget that takes the focus is made anew with a render process, so it is named again
    // whenever a load ends.
    const auto nameView = [this] {
        QString name = m_page->title().trimmed();
        if (name.isEmpty() || name == m_page->url().toString())
            name = tr("Page");
        for (QWidget* widget : {static_cast<QWidget*>(m_view), m_view->focusProxy()}) {
            if (widget) {
                widget->setAccessibleName(name);
                widget->setAccessibleDescription(tr("The page of the book"));
            }
        }
    };
    nameView();
    connect(m_page, &QWebEnginePage::titleChanged, this, nameView);
    connect(m_page, &QWebEnginePage::loadFinished, this, nameView);
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status) {
                if (status == QWebEnginePage::NormalTerminationStatus)
                    return;
                // The page is gone with its process; the next navigation starts a new one.
                m_loading = false;
                m_printing = false;
                newDocument();
                completeWithoutDocument();
            });
}

BrowserControl::~BrowserControl()
{
    // Pages must go before their profile.
    delete m_view;
    delete m_page;
    delete m_profile;
}

void BrowserControl::navigate(const QString& url)
{
    QUrl target = BookLocation::urlFromText(url);
    if (isBookScheme(target.scheme())) {
        const QUrl page = origins().pageUrl(BookLocation::fromUrl(target), m_bookPath);
        if (page.isValid())
            target = page;
    }
    loadOrReload(target);
}

void BrowserControl::loadOrReload(const QUrl& target)
{
    // The same address with a fragment would only scroll: load the page again instead.
    if (target.hasFragment() && target == m_page->url())
        m_page->triggerAction(QWebEnginePage::Reload);
    else
        m_page->load(target);
}

void BrowserControl::reportArrival(const QUrl& url)
{
    const BookLocation place = origins().locationOf(url);
    emit arrivedAt(place);
    emit navigateComplete(place.toAddress());
}

void BrowserControl::navigate(const BookLocation& place)
{
    if (!place.isValid())
        return navigate(place.address());
    const QUrl page = origins().pageUrl(place, m_bookPath);
    if (!page.isValid())
        return navigate(place.toStoreUrl());
    loadOrReload(page);
}

int BrowserControl::historyTarget(int step) const
{
    const QWebEngineHistory* history = m_page->history();
    const int count = history->count();
    for (int i = history->currentItemIndex() + step; i >= 0 && i < count; i += step) {
        const QUrl url = history->itemAt(i).url();
        if (url.isEmpty() || url.scheme() == QLatin1String("about") || m_failedUrls.contains(url))
            continue;
        return i;
    }
    return -1;
}

void BrowserControl::goToHistoryEntry(int step)
{
    const int target = historyTarget(step);
    if (target >= 0)
        m_page->history()->goToItem(m_page->history()->itemAt(target));
}

void BrowserControl::goBack()
{
    goToHistoryEntry(-1);
}

void BrowserControl::goForward()
{
    goToHistoryEntry(1);
}

void BrowserControl::setBookPath(const QString& bookPath)
{
    m_bookPath = bookPath;
    origins().setPreferredName(bookPath);
}

void BrowserControl::setWebLinkHandler(WebLinkHandler handler)
{
    m_webLinkHandler = std::move(handler);
}

BookOrigins& BrowserControl::origins() const
{
    return m_schemeHandler->origins();
}

void BrowserControl::onLoadStarted()
{
    m_loading = true;
    m_committed = false;
}

void BrowserControl::newDocument()
{
    m_committed = true;
    ++m_documentSerial;
    m_zoomWritten.reset();
    m_zoomReadBack.reset();
}

void BrowserControl::completeWithoutDocument()
{
    m_hasDocument = false;
    m_pageText.clear();
    m_pageTitle.clear();
    emit documentComplete(false);
}

void BrowserControl::onUrlChanged(const QUrl& url)
{
    // Book names without a folder resolve against the book shown.
    const QString bookFile = origins().bookOf(url);
    if (!bookFile.isEmpty())
        m_bookPath = bookFile;
    // During a load the address changes when the new page replaces the old one; otherwise
    // the page moved within itself (an anchor).
    if (m_loading)
        newDocument();
    reportArrival(url);
    reportHistoryLater();
}

void BrowserControl::reportHistoryLater()
{
    // The engine files a new entry in the history only after it reports the new address.
    if (m_historyReportPending)
        return;
    m_historyReportPending = true;
    QMetaObject::invokeMethod(this, [this] {
        m_historyReportPending = false;
        emit historyChanged();
    }, Qt::QueuedConnection);
}

void BrowserControl::onLoadFinished(bool ok)
{
    m_loading = false;
    reportHistoryLater();
    if (!ok && !m_committed) {
        // Refused or given up before anything replaced the page: the page shown stays, and
        // there is nothing to report.
        return;
    }
    if (!m_committed) {
        // The page loaded again at the same address, which changes no URL.
        newDocument();
        reportArrival(m_page->url());
    }
    // Addresses that failed are passed over by back and forward until they load again.
    constexpr qsizetype kMaxFailedRemembered = 256;
    if (ok) {
        m_failedUrls.remove(m_page->url());
        captureText([this](bool captured) { emit documentComplete(captured); });
        return;
    }
    if (m_failedUrls.size() >= kMaxFailedRemembered)
        m_failedUrls.clear();
    m_failedUrls.insert(m_page->url());
    completeWithoutDocument();
}

void BrowserControl::captureText(std::function<void(bool)> done)
{
    const quint64 serial = m_documentSerial;
    QPointer<BrowserControl> self(this);
    m_page->runJavaScript(PageScript::call(QStringLiteral("capture()")), kWorld,
                          [self, serial, done = std::move(done)](const QVariant& result) {
                              // Another page replaced this one meanwhile: its own capture follows.
                              if (!self || self->m_documentSerial != serial)
                                  return;
                              const QVariantMap page = result.toMap();
                              const bool ok = page.contains(QStringLiteral("text"));
                              self->m_hasDocument = ok;
                              self->m_pageText = page.value(QStringLiteral("text")).toString();
                              self->m_pageTitle = page.value(QStringLiteral("title")).toString();
                              // Answered from the event loop: the page sends no further answers
                              // while this one is being handled, so a receiver that asks the
                              // page something must not run in here.
                              QMetaObject::invokeMethod(self, [self, serial, done, ok] {
                                  if (self && self->m_documentSerial == serial && done)
                                      done(ok);
                              }, Qt::QueuedConnection);
                          });
}

void BrowserControl::runOnPage(const QString& call)
{
    m_page->runJavaScript(PageScript::call(call), kWorld);
}

QVariant BrowserControl::evaluate(const QString& script, int timeoutMs)
{
    if (m_waiting)
        return {};
    m_waiting = true;
    struct Answer
    {
        bool done = false;
        QVariant value;
    };
    auto answer = std::make_shared<Answer>();
    QEventLoop loop;
    QPointer<QEventLoop> waiting(&loop);
    m_page->runJavaScript(script, kWorld, [answer, waiting](const QVariant& value) {
        answer->done = true;
        answer->value = value;
        if (waiting)
            waiting->quit();
    });
    if (!answer->done) {
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    m_waiting = false;
    return answer->value;
}

std::optional<TextRange> BrowserControl::selection()
{
    const QVariant answer = evaluate(PageScript::call(QStringLiteral("selection()")));
    if (answer.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    const QVariantList ends = answer.toList();
    if (ends.size() != 2)
        return TextRange(m_pageText);
    return TextRange(m_pageText, ends.at(0).toInt(), ends.at(1).toInt());
}

void BrowserControl::selectAll()
{
    runOnPage(QStringLiteral("selectAll()"));
}

void BrowserControl::unselect()
{
    runOnPage(QStringLiteral("unselect()"));
}

void BrowserControl::paintBackground(const TextRange& range, const QString& colorName)
{
    const QColor color(colorName);
    if (!color.isValid() || range.isCollapsed())
        return;
    runOnPage(QStringLiteral("paint(%1, %2, '%3')").arg(range.start()).arg(range.end()).arg(color.name()));
}

std::optional<QPoint> BrowserControl::scrollPosition()
{
    const QVariantList position = evaluate(PageScript::call(QStringLiteral("scroll()"))).toList();
    if (position.size() != 2)
        return std::nullopt;
    return QPoint(position.at(0).toInt(), position.at(1).toInt());
}

void BrowserControl::scrollTo(int left, int top)
{
    runOnPage(QStringLiteral("scrollTo(%1, %2)").arg(left).arg(top));
}

std::optional<double> BrowserControl::zoom()
{
    const QVariant answer = evaluate(PageScript::call(QStringLiteral("zoom()")));
    bool isNumber = false;
    const double zoom = answer.toDouble(&isNumber);
    if (!answer.isValid() || answer.isNull() || !isNumber)
        return std::nullopt;
    if (m_zoomWritten && m_zoomReadBack && zoom == *m_zoomReadBack)
        return *m_zoomWritten;
    return zoom;
}

void BrowserControl::setZoom(double zoom)
{
    m_zoomWritten = zoom;
    m_zoomReadBack.reset();
    const quint64 serial = m_documentSerial;
    QPointer<BrowserControl> self(this);
    m_page->runJavaScript(PageScript::call(QStringLiteral("setZoom(%1)").arg(zoom, 0, 'g', 17)), kWorld,
                          [self, serial, zoom](const QVariant& readBack) {
                              bool isNumber = false;
                              const double value = readBack.toDouble(&isNumber);
                              if (!self || self->m_documentSerial != serial || self->m_zoomWritten != zoom
                                  || readBack.isNull() || !isNumber)
                                  return;
                              self->m_zoomReadBack = value;
                          });
}

bool BrowserControl::savePage(const QString& filePath, bool singleFileArchive)
{
    // A book page saved as HTML is saved as the book holds it; the browser cannot fetch it
    // again from outside.
    QByteArray source;
    if (!singleFileArchive && m_schemeHandler->readPage(m_page->url(), &source)) {
        QSaveFile file(filePath);
        return file.open(QIODevice::WriteOnly) && file.write(source) == source.size() && file.commit();
    }
    // Saved as the page is in its book colours; the page is dark again once the engine has
    // written it.
    inBookColors(true, [this, filePath, singleFileArchive] {
        if (m_dark) {
            auto connection = std::make_shared<QMetaObject::Connection>();
            *connection = connect(m_profile, &QWebEngineProfile::downloadRequested, this,
                                  [this, connection](QWebEngineDownloadRequest* download) {
                                      disconnect(*connection);
                                      connect(download, &QWebEngineDownloadRequest::isFinishedChanged, this,
                                              [this] { darkAgain(true); });
                                  });
        }
        m_page->save(filePath, singleFileArchive ? QWebEngineDownloadRequest::MimeHtmlSaveFormat
                                                 : QWebEngineDownloadRequest::SingleHtmlSaveFormat);
    });
    return true;
}

void BrowserControl::installColorsScript()
{
    const QString name = QStringLiteral("pagewick-colors");
    QWebEngineScriptCollection* scripts = m_profile->scripts();
    for (const QWebEngineScript& old : scripts->find(name))
        scripts->remove(old);
    QWebEngineScript script;
    script.setName(name);
    script.setSourceCode(PageScript::colorsCall(m_dark ? QStringLiteral("set(true)") : QStringLiteral("set(false)")));
    script.setWorldId(kWorld);
    // At creation, so that a dark page never shows light first; in frames, so that their
    // pictures are turned back as those of the page.
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setRunsOnSubFrames(true);
    scripts->insert(script);
}

void BrowserControl::setDarkPages(bool dark)
{
    if (dark == m_dark)
        return;
    m_dark = dark;
    installColorsScript();
    // The ground of a page that paints none is the view's own, which the page's filter does not
    // reach: dark, it is what white turns into.
    m_page->setBackgroundColor(dark ? Qt::black : Qt::white);
    m_page->runJavaScript(PageScript::colorsCall(dark ? QStringLiteral("set(true)") : QStringLiteral("set(false)")),
                          kWorld);
}

void BrowserControl::inBookColors(bool onScreen, std::function<void()> then)
{
    if (!m_dark)
        return then();
    // The view's ground is printed too where the page paints none. The engine lays the page
    // out for print (or saves it) only after the script has run.
    m_page->setBackgroundColor(Qt::white);
    QPointer<BrowserControl> self(this);
    m_page->runJavaScript(PageScript::colorsCall(onScreen ? QStringLiteral("set(false)") : QStringLiteral("forPrint(true)")),
                          kWorld,
                          [self, then = std::move(then)](const QVariant&) {
                              if (self)
                                  then();
                          });
}

void BrowserControl::darkAgain(bool onScreen)
{
    if (m_dark) {
        m_page->setBackgroundColor(Qt::black);
        m_page->runJavaScript(PageScript::colorsCall(onScreen ? QStringLiteral("set(true)") : QStringLiteral("forPrint(false)")),
                              kWorld);
    }
}

void BrowserControl::copy()
{
    m_page->triggerAction(QWebEnginePage::Copy);
}

bool BrowserControl::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ChildAdded:
        // The web view renders into child widgets it creates as pages come and go.
        watchForDrops(static_cast<QChildEvent*>(event)->child());
        break;
    case QEvent::DragEnter:
        // Files dropped on a page are not for the page (the web view would load them): left
        // unaccepted, the drag goes on to the window, which opens dropped books.
        if (const QMimeData* data = static_cast<QDragEnterEvent*>(event)->mimeData(); data && data->hasUrls()) {
            event->ignore();
            return true;
        }
        break;
    case QEvent::Wheel:
        if (auto* wheel = static_cast<QWheelEvent*>(event); wheel->modifiers() & Qt::ControlModifier) {
            // Whole notches only: a touchpad sends a notch in many small turns.
            m_wheelZoom += wheel->angleDelta().y();
            const int steps = m_wheelZoom / QWheelEvent::DefaultDeltasPerStep;
            m_wheelZoom -= steps * QWheelEvent::DefaultDeltasPerStep;
            if (steps != 0)
                emit zoomWheeled(steps);
            return true;
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void BrowserControl::watchForDrops(QObject* object)
{
    object->installEventFilter(this);
    for (QObject* child : object->children())
        watchForDrops(child);
}

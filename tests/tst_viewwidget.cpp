// The page view on a real web view, offscreen, over compiled test books and books written
// by the tests: navigation and its events, book paths, missing pages, the zoom, the saved
// scroll position, the page's characters, what book pages may reach, the page commands, and
// the view's keys and find bar.
#include "../bench/windowfreeze.h"
#include "backgroundrunner.h"
#include "bookorigin.h"
#include "bookpdfexport.h"
#include "bookscheme.h"
#include "browserengine.h"
#include "browsercontrol.h"
#include "chmwriter.h"
#include "findbar.h"
#include "pagescript.h"
#include "lchmfile.h"
#include "testbooks.h"
#include "textrange.h"
#include "viewwidget.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QElapsedTimer>
#include <QShortcut>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPdfDocument>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

#include <memory>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFOutlineDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <csignal>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

constexpr int kLoadTimeoutMs = 20000;

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The processor time a process has used, in clock ticks; -1 when it cannot be read.
qint64 cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The fields after the command name (which may hold spaces) in parentheses; utime and
    // stime are the 14th and 15th of the whole line.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
}

// The memory this process holds, in kB (VmRSS); -1 when it cannot be read.
qint64 memoryKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

QString exact(double value)
{
    return QString::number(value, 'g', 17);
}

// A text as a JavaScript string literal.
QString jsText(const QString& text)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
}

// What origins.chm's probe sees of secret.htm, secret.js and images/secret.gif of its own book
// (by path, and named by a book URL, which XHR will not follow to the page's address), and of
// any book, file or address that is not its own (the same whatever lies there).
const QString kSeenOwn = QStringLiteral(
    R"({"frame":"OWN-PAGE, global OWN-SCRIPT","xhr":"read OWN-PAGE","fetch":"error","script":"ran, global OWN-SCRIPT","image":"loaded 16x16"})");
const QString kSeenOwnByBookUrl = QString(kSeenOwn).replace(QStringLiteral("read OWN-PAGE"), QStringLiteral("error"));
const QString kSeenNothing = QStringLiteral(
    R"({"frame":"no document, global denied","xhr":"error","fetch":"error","script":"error","image":"error"})");

// The characters of viewpages.chm's chars.htm: body text only, script, style, noscript and
// template text left out, entities as the characters they stand for, the emoji as two UTF-16
// units, and the line breaks behind </body> and </html>, which belong to the body.
const QString kCharsText = QStringLiteral("Count\u00A0me") + QStringLiteral("One two three.") + QStringLiteral("Written")
                         + QStringLiteral("A&B") + QString::fromUtf8("café ☺😀") + QStringLiteral("Last line\n\n");

// A web server on the loopback interface that counts the connections it gets and answers
// every request with one small page, or "/redirect" with a redirect to redirectTo.
class LoopbackServer : public QTcpServer
{
public:
    QByteArray page = "<html><body>web</body></html>";
    QByteArray redirectTo;
    int connections = 0;
    QList<QByteArray> requests;

    LoopbackServer()
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                ++connections;
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray request = socket->readAll();
                    requests << request.left(request.indexOf('\r'));
                    if (!redirectTo.isEmpty() && request.startsWith("GET /redirect "))
                        socket->write("HTTP/1.0 302 Found\r\nLocation: " + redirectTo + "\r\nContent-Length: 0\r\n\r\n");
                    else
                        socket->write("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: "
                                      + QByteArray::number(page.size()) + "\r\n\r\n" + page);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    QString url(const QString& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path);
    }
};

// Reports whether a file is opened or read from the moment it is watched.
class FileOpenWatch
{
public:
    explicit FileOpenWatch(const QString& path) : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd >= 0)
            inotify_add_watch(m_fd, QFile::encodeName(path).constData(), IN_OPEN | IN_ACCESS);
    }
    ~FileOpenWatch()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool valid() const { return m_fd >= 0; }
    bool touched() const
    {
        char buffer[4096];
        return read(m_fd, buffer, sizeof buffer) > 0;
    }

private:
    int m_fd;
};

} // namespace

class TestViewWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startsBlankAndReportsIt();
    void eventsOfOneNavigation();
    void followsLinksHistoryAndHome();
    void bookPathsWithUnusualNames_data();
    void bookPathsWithUnusualNames();
    void reportedUrlsBecomeInBookPaths_data();
    void reportedUrlsBecomeInBookPaths();
    void emptyPathsNavigateNowhere();
    void linksIntoOtherBooksAndWindows();
    void missingPageSaysSo();
    void loadWithoutDocumentDisablesPageCommands();
    void crashedPageDisablesPageCommands();
    void receiversOfThePassMayAskThePage();
    void zoomSteps_data();
    void zoomSteps();
    void zoomFollowsPagesUntilExactlyOne();
    void scrollRestoredOnlyAfterRefresh();
    void charactersDependOnTheHtmlAlone();
    void selectionAndPaintingCountCharacters();
    void pagesWithoutCharsetUseTheBookCodePage();
    void bookPagesStayOnTheMachine();
    void pagesReachOnlyTheirOwnBook_data();
    void pagesReachOnlyTheirOwnBook();
    void readerFollowsLinksToOtherBooksAndTheWeb();
    void pageCommandsWithoutDialogs();
    void keysOnThePage_data();
    void keysOnThePage();
    void copyAndSelectAllKeys();
    void findBar_data();
    void findBar();
    void pagesRewritingTheirAddressSettle_data();
    void pagesRewritingTheirAddressSettle();
    void historyOutlivesFailedLoads();
    void backAfterAnAnchorReturnsToThePlace_data();
    void backAfterAnAnchorReturnsToThePlace();
    void printsLongPagesAsDocuments();
    void exportsBooksAsOnePdf_data();
    void exportsBooksAsOnePdf();
    void cancelledExportLeavesNothing();
    void darkPages_data();
    void darkPages();
    void marksOnDarkPages();
    void darkPagesPrintInBookColors();

private:
    BrowserControl* browser() const { return m_view->browser; }
    QWebEnginePage* page() const { return browser()->webView()->page(); }
    // Runs action and waits for the load it starts: true when the after-load pass ran.
    bool loads(const std::function<void()>& action);
    // Evaluates a script as the page's own scripts would.
    QVariant pageValue(const QString& script);
    // Clicks the element as the reader would, in the page or in the frame that frameSelector
    // finds; false when it is not found.
    bool clickOn(const QString& selector, const QString& frameSelector = QString());
    // Clicks a link and waits for the page it leads to.
    bool clickLink(const QString& selector);
    // The widget of the page, with the keyboard focus in an active window.
    QWidget* focusedPage();
    // Presses a key ("Alt+Left", "Ctrl++") on the focused widget, or turns the wheel a notch
    // up ("Ctrl+Wheel+") or down ("Ctrl+Wheel-") over the page.
    void press(const QString& key);
    QString writeBook(const QString& name, const QVector<ChmWriterObject>& objects);
    // The colour the view shows at a point of the page, as drawn.
    QColor shownAt(const QPoint& point);
    // Shows the book page with the given HTML (and frames); false when it does not load.
    bool showPage(const QByteArray& html, const QVector<ChmWriterObject>& more = {});
    // A file of these bytes in the temporary folder: its path, empty when it cannot be written.
    QString writeFile(const QString& name, const QByteArray& bytes);

    QTemporaryDir m_dir;
    QString m_english;
    QString m_viewPages;
    QString m_origins;
    QString m_secret;
    ViewWidget* m_view = nullptr;
    QStringList m_firstReports;   // urlToFavorites of the view's first load
};

void TestViewWidget::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_english = testBookPath(QStringLiteral("english.chm"));
    m_viewPages = testBookPath(QStringLiteral("viewpages.chm"));
    QVERIFY2(QFile::exists(m_english), qPrintable(m_english));
    QVERIFY2(QFile::exists(m_viewPages), qPrintable(m_viewPages));
    m_origins = testBookPath(QStringLiteral("origins.chm"));
    m_secret = testBookPath(QStringLiteral("secret.chm"));
    QVERIFY2(QFile::exists(m_origins), qPrintable(m_origins));
    QVERIFY2(QFile::exists(m_secret), qPrintable(m_secret));
}

void TestViewWidget::init()
{
    m_view = new ViewWidget;
    m_view->resize(800, 600);
    QSignalSpy reports(m_view, &ViewWidget::urlToFavorites);
    QSignalSpy canNote(m_view, &ViewWidget::canNote);
    m_view->show();
    QVERIFY(canNote.wait(kLoadTimeoutMs));
    m_firstReports.clear();
    for (const QList<QVariant>& report : std::as_const(reports))
        m_firstReports << report.at(0).toString();
}

void TestViewWidget::cleanup()
{
    delete m_view;
    m_view = nullptr;
}

bool TestViewWidget::loads(const std::function<void()>& action)
{
    QSignalSpy canNote(m_view, &ViewWidget::canNote);
    action();
    if (!canNote.wait(kLoadTimeoutMs))
        return false;
    return canNote.constLast().at(0).toBool();
}

QVariant TestViewWidget::pageValue(const QString& script)
{
    auto answer = std::make_shared<std::pair<bool, QVariant>>();
    page()->runJavaScript(script, [answer](const QVariant& value) { *answer = {true, value}; });
    if (!QTest::qWaitFor([answer] { return answer->first; }, kLoadTimeoutMs))
        qWarning("the page gave no answer to: %s", qPrintable(script));
    return answer->second;
}

bool TestViewWidget::clickOn(const QString& selector, const QString& frameSelector)
{
    // A click of the mouse, as the reader makes it: history entries made by scripts alone
    // are passed over by back and forward, and only the reader's clicks lead out of a book.
    const QVariantList point = pageValue(QStringLiteral(
        "(function () { var f = %2 ? document.querySelector(%2) : null; var d = f ? f.contentDocument : document;"
        " var a = d.querySelector(%1); a.scrollIntoView(); var r = a.getClientRects()[0];"
        " var o = f ? f.getBoundingClientRect() : {left: 0, top: 0};"
        " return [o.left + r.left + Math.min(4, r.width / 2), o.top + r.top + r.height / 2]; })()")
        .arg(jsText(selector), jsText(frameSelector))).toList();
    QWidget* surface = browser()->webView()->focusProxy();
    if (point.size() != 2 || !surface)
        return false;
    QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(qRound(point.at(0).toDouble()), qRound(point.at(1).toDouble())));
    return true;
}

bool TestViewWidget::clickLink(const QString& selector)
{
    bool clicked = false;
    return loads([&] { clicked = clickOn(selector); }) && clicked;
}

QWidget* TestViewWidget::focusedPage()
{
    QWidget* surface = browser()->webView()->focusProxy();
    m_view->activateWindow();
    if (!QTest::qWaitForWindowActive(m_view) || !surface)
        return nullptr;
    surface->setFocus(Qt::OtherFocusReason);
    return QApplication::focusWidget() == surface ? surface : nullptr;
}

void TestViewWidget::press(const QString& key)
{
    QWidget* focus = QApplication::focusWidget();
    QVERIFY(focus);
    if (key.startsWith(QLatin1String("Ctrl+Wheel"))) {
        const QPoint center = focus->rect().center();
        QWheelEvent wheel(center, focus->mapToGlobal(center), QPoint(), QPoint(0, key.endsWith('+') ? 120 : -120),
                          Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(focus, &wheel);
        return;
    }
    const QKeyCombination combination = QKeySequence(key)[0];
    QVERIFY2(combination.key() != Qt::Key_unknown, qPrintable(key));
    QTest::keyClick(focus, combination.key(), combination.keyboardModifiers());
}

QString TestViewWidget::writeFile(const QString& name, const QByteArray& bytes)
{
    QFile file(m_dir.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? file.fileName() : QString();
}

QString TestViewWidget::writeBook(const QString& name, const QVector<ChmWriterObject>& objects)
{
    const QString path = m_dir.filePath(name);
    return writeChmContainer(path, objects) ? path : QString();
}

void TestViewWidget::startsBlankAndReportsIt()
{
    QCOMPARE(m_firstReports, QStringList{QStringLiteral("about:blank")});
    QCOMPARE(m_view->currentPath(), QStringLiteral("about:blank"));
    QCOMPARE(m_view->currentUrl(), QStringLiteral("about:blank"));
    QCOMPARE(m_view->homeUrl(), QStringLiteral("about:blank"));

    m_view->setBookPath(m_english);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/index.htm")); }));
    QSignalSpy reports(m_view, &ViewWidget::urlToFavorites);
    QVERIFY(loads([&] { m_view->showBlank(); }));
    QCOMPARE(m_view->currentPath(), QStringLiteral("about:blank"));
    QCOMPARE(reports.constLast().at(0).toString(), QStringLiteral("about:blank"));
}

void TestViewWidget::eventsOfOneNavigation()
{
    m_view->setBookPath(m_english);
    QStringList log;
    connect(browser(), &BrowserControl::navigateComplete, this,
            [&](const QString& url) { log << QStringLiteral("navigate %1 -> %2").arg(url, m_view->currentPath()); });
    // Ahead of the view's own slots, so that the log shows when each signal is sent.
    disconnect(browser(), &BrowserControl::documentComplete, m_view, &ViewWidget::selectAllText);
    disconnect(m_view, &ViewWidget::currentAllTextSaved, m_view, &ViewWidget::showNote);
    connect(browser(), &BrowserControl::documentComplete, this,
            [&](bool has) { log << QStringLiteral("document %1").arg(has); });
    connect(m_view, &ViewWidget::currentAllTextSaved, this, [&] { log << QStringLiteral("text saved"); });
    connect(browser(), &BrowserControl::documentComplete, m_view, &ViewWidget::selectAllText);
    connect(m_view, &ViewWidget::currentAllTextSaved, m_view, &ViewWidget::showNote);
    connect(m_view, &ViewWidget::canNote, this, [&](bool can) { log << QStringLiteral("canNote %1").arg(can); });
    connect(m_view, &ViewWidget::urlToFavorites, this, [&](const QString& s) { log << QStringLiteral("url ") + s; });
    connect(m_view, &ViewWidget::topicToFavorites, this, [&](const QString& s) { log << QStringLiteral("topic ") + s; });

    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/intro.htm")); }));
    const QStringList expected = {
        QStringLiteral("navigate mk:@MSITStore:%1::/intro.htm -> /intro.htm").arg(m_english),
        QStringLiteral("document 1"),
        QStringLiteral("text saved"),
        QStringLiteral("canNote 1"),
        QStringLiteral("url /intro.htm"),
        QStringLiteral("topic Introduction"),
    };
    QCOMPARE(log, expected);
    QCOMPARE(m_view->currentUrl(), QStringLiteral("mk:@MSITStore:%1::/intro.htm").arg(m_english));
}

void TestViewWidget::followsLinksHistoryAndHome()
{
    m_view->setBookPath(m_english);
    m_view->setCurrentPage(QStringLiteral("/index.htm"));
    m_view->setHomeUrl(QStringLiteral("/index.htm"));
    QVERIFY(loads([] {}));
    const QString homeUrl = QStringLiteral("mk:@MSITStore:%1::/index.htm").arg(m_english);
    QCOMPARE(m_view->homeUrl(), homeUrl);
    QCOMPARE(m_view->currentPath(), QStringLiteral("/index.htm"));

    // Book style sheet and image are in place.
    QCOMPARE(pageValue(QStringLiteral("getComputedStyle(document.querySelector('h1')).color")).toString(),
             QStringLiteral("rgb(34, 68, 102)"));
    QVERIFY(pageValue(QStringLiteral("document.images[0].naturalWidth")).toInt() > 0);

    QVERIFY(clickLink(QStringLiteral("a[href=\"sub/page.htm\"]")));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/sub/page.htm"));
    QVERIFY(pageValue(QStringLiteral("document.images[0].naturalWidth")).toInt() > 0);   // "../images/…"
    QVERIFY(clickLink(QStringLiteral("a[href=\"../intro.htm\"]")));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/intro.htm"));
    QCOMPARE(m_view->currentUrl(), homeUrl);   // links followed leave it alone

    QVERIFY(loads([&] { m_view->back(); }));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/sub/page.htm"));
    QVERIFY(loads([&] { m_view->back(); }));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/index.htm"));
    QVERIFY(loads([&] { m_view->forward(); }));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/sub/page.htm"));
    QVERIFY(loads([&] { m_view->home(); }));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/index.htm"));

    // An anchor: the page opens scrolled to it.
    m_view->resize(400, 200);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/intro.htm#part")); }));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/intro.htm#part"));
    QTRY_VERIFY(browser()->scrollPosition().value_or(QPoint()).y() > 0);
}

void TestViewWidget::bookPathsWithUnusualNames_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("file");
    QTest::newRow("spaces") << "my books" << "english guide.chm";
    QTest::newRow("letters beyond ASCII") << QString::fromUtf8("Bücher книги") << QString::fromUtf8("ℌelp é.chm");
    QTest::newRow("URL signs") << "50% #1" << "a?b#c.chm";
}

void TestViewWidget::bookPathsWithUnusualNames()
{
    QFETCH(QString, folder);
    QFETCH(QString, file);
    QVERIFY(QDir(m_dir.path()).mkpath(folder));
    const QString book = m_dir.filePath(folder + QLatin1Char('/') + file);
    QVERIFY(QFile::copy(m_english, book));

    m_view->setBookPath(book);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/sub/page.htm")); }));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/sub/page.htm"));
    QCOMPARE(browser()->pageTitle(), QStringLiteral("A Page in a Folder"));
    QVERIFY(pageValue(QStringLiteral("document.images[0].naturalWidth")).toInt() > 0);
    QCOMPARE(pageValue(QStringLiteral("getComputedStyle(document.querySelector('h1')).color")).toString(),
             QStringLiteral("rgb(34, 68, 102)"));
    QVERIFY(clickLink(QStringLiteral("a[href=\"../index.htm\"]")));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/index.htm"));
}

void TestViewWidget::reportedUrlsBecomeInBookPaths_data()
{
    QTest::addColumn<QString>("bookPath");
    QTest::addColumn<QString>("reported");
    QTest::addColumn<QString>("path");
    const QString spaced = QStringLiteral("/data/my books/guide.chm");
    QTest::newRow("spaces as %20") << spaced << "mk:@MSITStore:/data/my%20books/guide.chm::/a/b.htm" << "/a/b.htm";
    QTest::newRow("spaces as they stand") << spaced << "mk:@MSITStore:/data/my books/guide.chm::/a/b.htm" << "/a/b.htm";
    QTest::newRow("fragment kept") << spaced << "mk:@MSITStore:/data/my books/guide.chm::/a.htm#part" << "/a.htm#part";
    QTest::newRow("letters encoded") << QString::fromUtf8("/data/книга.chm")
                                     << "mk:@MSITStore:/data/%D0%BA%D0%BD%D0%B8%D0%B3%D0%B0.chm::/x.htm" << "/x.htm";
    QTest::newRow("signs encoded") << "/data/50% #1/a.chm" << "mk:@MSITStore:/data/50%25%20%231/a.chm::/x.htm" << "/x.htm";
    QTest::newRow("another book") << spaced << "mk:@MSITStore:/data/other.chm::/x.htm"
                                  << "mk:@MSITStore:/data/other.chm::/x.htm";
    QTest::newRow("web page") << spaced << "http://example.com/a.htm" << "http://example.com/a.htm";
    QTest::newRow("blank") << spaced << "about:blank" << "about:blank";
}

void TestViewWidget::reportedUrlsBecomeInBookPaths()
{
    QFETCH(QString, bookPath);
    QFETCH(QString, reported);
    QFETCH(QString, path);
    m_view->setBookPath(bookPath);
    m_view->setCurrentUrlAgain(reported);
    QCOMPARE(m_view->currentPath(), path);
}

void TestViewWidget::emptyPathsNavigateNowhere()
{
    m_view->setBookPath(m_english);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/index.htm")); }));
    const QString url = m_view->currentUrl();

    QSignalSpy started(page(), &QWebEnginePage::loadStarted);
    m_view->setCurrentPage(QString());
    QVERIFY(m_view->currentPath().isEmpty());
    m_view->refresh();
    QTest::qWait(500);
    QCOMPARE(started.count(), 0);
    QCOMPARE(m_view->currentUrl(), url);

    m_view->setHomeUrl(QString());
    QCOMPARE(m_view->homeUrl(), QStringLiteral("about:blank"));
    QVERIFY(loads([&] { m_view->home(); }));
    QCOMPARE(m_view->currentPath(), QStringLiteral("about:blank"));
}

void TestViewWidget::linksIntoOtherBooksAndWindows()
{
    m_view->setBookPath(m_viewPages);
    const QString index = QStringLiteral("/index.htm");
    QVERIFY(loads([&] { m_view->setCurrentPage(index); }));

    // ms-its:english.chm::/intro.htm, english.chm lying beside this book.
    QVERIFY(clickLink(QStringLiteral("#other")));
    QCOMPARE(m_view->currentPath(), QStringLiteral("mk:@MSITStore:%1::/intro.htm").arg(m_english));
    QCOMPARE(browser()->pageTitle(), QStringLiteral("Introduction"));
    QCOMPARE(pageValue(QStringLiteral("getComputedStyle(document.querySelector('h1')).color")).toString(),
             QStringLiteral("rgb(34, 68, 102)"));
    // Its own links stay in that book.
    QVERIFY(clickLink(QStringLiteral("a[href=\"index.htm\"]")));
    QCOMPARE(m_view->currentPath(), QStringLiteral("mk:@MSITStore:%1::/index.htm").arg(m_english));

    QVERIFY(loads([&] { m_view->setCurrentPage(index); }));
    QVERIFY(clickLink(QStringLiteral("#blank")));   // target="_blank"
    QCOMPARE(m_view->currentPath(), QStringLiteral("/zoomed.htm"));
    QVERIFY(loads([&] { m_view->back(); }));
    QVERIFY(clickLink(QStringLiteral("#rooted")));   // href="/long.htm"
    QCOMPARE(m_view->currentPath(), QStringLiteral("/long.htm"));
    QCOMPARE(browser()->pageTitle(), QStringLiteral("A Long Page"));
}

void TestViewWidget::missingPageSaysSo()
{
    m_view->setBookPath(m_english);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/nowhere/lost.htm")); }));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/nowhere/lost.htm"));
    QCOMPARE(browser()->pageText().trimmed(), QStringLiteral("This page is not in the book: /nowhere/lost.htm"));

    // The path is shown as text, never as markup.
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/<b>bold</b>.htm")); }));
    QVERIFY(browser()->pageText().contains(QStringLiteral("/<b>bold</b>.htm")));
    QCOMPARE(pageValue(QStringLiteral("document.querySelectorAll('b').length")).toInt(), 0);

    // A book that cannot be opened says so too, in the same words for a missing file and for
    // a file that is no book.
    const QString notBook = writeFile(QStringLiteral("notabook.chm"), "<html><body>Not a book</body></html>");
    QVERIFY(!notBook.isEmpty());
    for (const QString& book : {m_dir.filePath(QStringLiteral("absent.chm")), notBook}) {
        m_view->setBookPath(book);
        QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/index.htm")); }));
        QCOMPARE(browser()->pageText().trimmed(), QStringLiteral("This book cannot be opened: ") + book);
    }
}

void TestViewWidget::loadWithoutDocumentDisablesPageCommands()
{
    QSignalSpy reports(m_view, &ViewWidget::urlToFavorites);
    // Nothing listens on port 1: the load ends in an error, with no document.
    QVERIFY(!loads([&] { m_view->setCurrentPage(QStringLiteral("http://127.0.0.1:1/")); }));
    QCOMPARE(reports.count(), 0);
    QVERIFY(!browser()->hasDocument());

    m_view->setBookPath(m_english);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/index.htm")); }));
}

void TestViewWidget::crashedPageDisablesPageCommands()
{
    m_view->setBookPath(m_english);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/index.htm")); }));
    const qint64 pid = page()->renderProcessPid();
    QVERIFY(pid > 0);
    QSignalSpy canNote(m_view, &ViewWidget::canNote);
    QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
    QVERIFY(canNote.wait(kLoadTimeoutMs));
    QCOMPARE(canNote.constLast().at(0).toBool(), false);
    QVERIFY(!browser()->hasDocument());
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/intro.htm")); }));
    QCOMPARE(browser()->pageTitle(), QStringLiteral("Introduction"));
}

void TestViewWidget::receiversOfThePassMayAskThePage()
{
    // The main window's slots run inside the after-load pass; the page must answer them there.
    m_view->setBookPath(m_english);
    std::optional<QPoint> scroll;
    qint64 waitedMs = -1;
    connect(m_view, &ViewWidget::urlToFavorites, this, [&] {
        QElapsedTimer timer;
        timer.start();
        scroll = browser()->scrollPosition();
        waitedMs = timer.elapsed();
    });
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/index.htm")); }));
    QVERIFY(scroll);
    QVERIFY2(waitedMs < 1000, qPrintable(QString::number(waitedMs)));
}

void TestViewWidget::zoomSteps_data()
{
    QTest::addColumn<QString>("steps");
    QTest::addColumn<double>("zoom");
    QTest::newRow("unzoomed, up") << "+" << 1.1;
    QTest::newRow("unzoomed, down") << "-" << 0.9;
    QTest::newRow("0.9 up") << "-+" << 1.0;
    QTest::newRow("1.0 down") << "-+-" << 0.9;
    QTest::newRow("0.9 down stays") << "--" << 0.9;
    QTest::newRow("1.1 up, unrounded") << "++" << 1.2000000000000002;
    QTest::newRow("on from the exact value") << "+++" << 1.3000000000000003;
    QTest::newRow("1.1 down") << "+-" << 1.1 - 0.1;
}

void TestViewWidget::zoomSteps()
{
    QFETCH(QString, steps);
    QFETCH(double, zoom);
    m_view->setBookPath(m_english);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/index.htm")); }));
    for (const QChar step : std::as_const(steps))
        step == QLatin1Char('+') ? m_view->zoomIn() : m_view->zoomOut();
    QVERIFY2(m_view->zoomFactor == zoom, qPrintable(exact(m_view->zoomFactor)));
    QVERIFY2(browser()->zoom() == zoom, qPrintable(exact(browser()->zoom().value_or(-1))));
    // The page itself is magnified (to the precision it keeps).
    QCOMPARE(pageValue(QStringLiteral("Number(document.body.style.zoom)")).toDouble(), zoom);
}

void TestViewWidget::zoomFollowsPagesUntilExactlyOne()
{
    auto pageZoom = [this] { return pageValue(QStringLiteral("document.body.style.zoom")).toString(); };
    m_view->setBookPath(m_viewPages);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/zoomed.htm")); }));
    // A zoom that does not read as a number ("150%") counts as none.
    m_view->zoomOut();
    QVERIFY2(m_view->zoomFactor == 0.9, qPrintable(exact(m_view->zoomFactor)));

    m_view->setBookPath(m_english);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/index.htm")); }));
    QCOMPARE(pageZoom(), QStringLiteral("0.9"));
    m_view->zoomIn();
    QVERIFY2(m_view->zoomFactor == 1.0, qPrintable(exact(m_view->zoomFactor)));
    // Exactly 1.0: the next page is left alone.
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/intro.htm")); }));
    QCOMPARE(pageZoom(), QString());

    m_view->zoomIn();
    m_view->zoomIn();
    QVERIFY2(m_view->zoomFactor == 1.2000000000000002, qPrintable(exact(m_view->zoomFactor)));
    QVERIFY(loads([&] { m_view->back(); }));
    QCOMPARE(pageZoom(), QStringLiteral("1.2"));
    m_view->zoomIn();
    QVERIFY2(m_view->zoomFactor == 1.3000000000000003, qPrintable(exact(m_view->zoomFactor)));
}

void TestViewWidget::scrollRestoredOnlyAfterRefresh()
{
    m_view->resize(400, 300);
    m_view->setBookPath(m_viewPages);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/long.htm")); }));
    const QPoint scrolled(0, 500);
    browser()->scrollTo(scrolled.x(), scrolled.y());
    QTRY_COMPARE(browser()->scrollPosition(), scrolled);
    // The browser would restore the position of a page loaded again by itself; with that
    // off, what comes back is the view's doing.
    pageValue(QStringLiteral("history.scrollRestoration = 'manual'"));

    QVERIFY(loads([&] { m_view->refresh(); }));
    QCOMPARE(browser()->scrollPosition().value_or(QPoint(-1, -1)), scrolled);
    QCOMPARE(m_view->savedScrollTop, 0);
    QCOMPARE(m_view->savedScrollLeft, 0);

    // Spent: the next page, opened from a panel, starts at its top. (The same text at
    // another address, so that the browser has no position of its own to restore.)
    const QString copy = m_dir.filePath(QStringLiteral("viewpages-copy.chm"));
    QVERIFY(QFile::copy(m_viewPages, copy));
    m_view->setBookPath(copy);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/long.htm")); }));
    QCOMPARE(browser()->scrollPosition().value_or(QPoint(-1, -1)), QPoint(0, 0));
}

void TestViewWidget::charactersDependOnTheHtmlAlone()
{
    m_view->setBookPath(m_viewPages);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/chars.htm")); }));
    QCOMPARE(browser()->pageText(), kCharsText);
    QCOMPARE(browser()->pageTitle(), QStringLiteral("Characters"));
    // What the after-load pass keeps: spaces and "\r\n" pairs dropped.
    QCOMPARE(m_view->pageText, QString(kCharsText).remove(QLatin1Char(' ')));

    auto recaptured = [this] {
        auto state = std::make_shared<std::pair<bool, bool>>();
        browser()->captureText([state](bool ok) { *state = {true, ok}; });
        if (!QTest::qWaitFor([state] { return state->first; }, kLoadTimeoutMs))
            return QStringLiteral("(no answer)");
        return state->second ? browser()->pageText() : QStringLiteral("(no capture)");
    };
    m_view->resize(160, 120);
    QCOMPARE(recaptured(), kCharsText);
    m_view->resize(1200, 900);
    m_view->zoomIn();
    m_view->zoomIn();
    QCOMPARE(recaptured(), kCharsText);
    TextRange range = browser()->documentRange();
    range.setRange(2, int(kCharsText.size()) - 3);
    browser()->paintBackground(range, QStringLiteral("#a4e16f"));
    QCOMPARE(recaptured(), kCharsText);
    QVERIFY(pageValue(QStringLiteral("document.querySelectorAll('span').length")).toInt() > 5);
}

void TestViewWidget::selectionAndPaintingCountCharacters()
{
    m_view->setBookPath(m_viewPages);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/chars.htm")); }));

    // A selection inside one text node, and one whose ends are element boundaries.
    pageValue(QStringLiteral("getSelection().selectAllChildren(document.getElementById('bold'))"));
    std::optional<TextRange> selected = browser()->selection();
    QVERIFY(selected);
    QCOMPARE(selected->text(), QStringLiteral("two"));
    QCOMPARE(selected->start(), int(kCharsText.indexOf(QStringLiteral("two"))));

    pageValue(QStringLiteral("var r = document.createRange(); r.setStartBefore(document.getElementById('first'));"
                             "r.setEndAfter(document.getElementById('written')); getSelection().removeAllRanges();"
                             "getSelection().addRange(r)"));
    selected = browser()->selection();
    QVERIFY(selected);
    QCOMPARE(selected->text(), QStringLiteral("One two three.Written"));

    browser()->unselect();
    selected = browser()->selection();
    QVERIFY(selected);
    QVERIFY(selected->isCollapsed());
    browser()->selectAll();
    QCOMPARE(browser()->selection()->text(), kCharsText);

    // Painting a range that crosses elements colours exactly its characters.
    TextRange range = browser()->documentRange();
    QVERIFY(range.findText(QStringLiteral("three.WrittenA&B")));
    browser()->paintBackground(range, QStringLiteral("#00bfff"));
    const QString painted = pageValue(QStringLiteral(
        "Array.from(document.querySelectorAll('span')).filter(s => s.style.backgroundColor === 'rgb(0, 191, 255)')"
        ".map(s => s.textContent).join('')")).toString();
    QCOMPARE(painted, QStringLiteral("three.WrittenA&B"));
}

void TestViewWidget::pagesWithoutCharsetUseTheBookCodePage()
{
    // A Russian book (language 0x419) whose page names no character set.
    QByteArray system;
    appendLe32(system, 3);
    appendLe16(system, 4);
    appendLe16(system, 8);
    appendLe16(system, 0x419);
    appendLe16(system, 0);
    appendLe32(system, 0);
    QTextCodec* cp1251 = QTextCodec::codecForName("windows-1251");
    QVERIFY(cp1251);
    const QByteArray html = "<html><head><title>T</title></head><body><p>"
                          + cp1251->fromUnicode(QString::fromUtf8("Привет, мир")) + "</p></body></html>";
    const QString book = writeBook(QStringLiteral("russian-nocharset.chm"),
                                   {{"/#SYSTEM", system}, {"/page.htm", html}});
    QVERIFY(!book.isEmpty());
    m_view->setBookPath(book);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/page.htm")); }));
    QCOMPARE(browser()->pageText(), QString::fromUtf8("Привет, мир"));
}

void TestViewWidget::bookPagesStayOnTheMachine()
{
    LoopbackServer server;
    QVERIFY(server.isListening());
    const QString secret = writeFile(QStringLiteral("secret.htm"), "<html><body>secret</body></html>");
    QVERIFY(!secret.isEmpty());
    const QString html = QStringLiteral(
        "<html><head><title>Reaching out</title><link rel='stylesheet' href='%1'><script src='%2'></script></head>"
        "<body><p>Page</p><img src='%3'><iframe src='file://%4'></iframe><img src='file://%4'>"
        "<a id='web' href='%5' style='display:block;font-size:40px'>To the web</a>"
        "<script>fetch('%6').catch(function () {});"
        "setTimeout(function () { location.href = '%7'; }, 50);</script></body></html>")
        .arg(server.url(QStringLiteral("/style.css")), server.url(QStringLiteral("/script.js")),
             server.url(QStringLiteral("/image.png")), secret, server.url(QStringLiteral("/clicked")),
             server.url(QStringLiteral("/fetched")), server.url(QStringLiteral("/by-script")));
    const QString book = writeBook(QStringLiteral("reaching.chm"), {{"/page.htm", html.toUtf8()}});
    QVERIFY(!book.isEmpty());

    FileOpenWatch watch(secret);
    QVERIFY(watch.valid());
    QSignalSpy blocked(browser(), &BrowserControl::requestBlocked);
    m_view->setBookPath(book);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/page.htm")); }));
    QTRY_VERIFY(blocked.count() >= 5);
    QTest::qWait(500);   // the page's own navigation to the web, 50 ms after loading
    QCOMPARE(m_view->currentPath(), QStringLiteral("/page.htm"));
    QCOMPARE(server.connections, 0);
    QVERIFY(!watch.touched());
    QStringList blockedUrls;
    for (const QList<QVariant>& request : std::as_const(blocked))
        blockedUrls << request.at(0).toUrl().toString();
    QVERIFY2(blockedUrls.contains(server.url(QStringLiteral("/image.png"))), qPrintable(blockedUrls.join(' ')));
    QVERIFY2(blockedUrls.contains(server.url(QStringLiteral("/by-script"))), qPrintable(blockedUrls.join(' ')));

    // The reader's own click on a web link opens it in the desktop's browser; the view stays.
    QList<QUrl> opened;
    browser()->setWebLinkHandler([&](const QUrl& url) { opened << url; });
    QVERIFY(clickOn(QStringLiteral("#web")));
    QTRY_COMPARE(opened, QList<QUrl>{QUrl(server.url(QStringLiteral("/clicked")))});
    QCOMPARE(m_view->currentPath(), QStringLiteral("/page.htm"));
    QCOMPARE(server.connections, 0);
    QVERIFY(!watch.touched());
}

void TestViewWidget::pagesReachOnlyTheirOwnBook_data()
{
    // Where the probing page comes from, what it does, the address it aims at (%SECRET: the
    // other book's file, %HOST: its page address, %MISSING and %NOTBOOK: a missing file and
    // one that is no book, %WEB: the local web server), and what a probe saw.
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("seen");

    const QString book = QStringLiteral("book");
    const QString web = QStringLiteral("web");
    const QString probe = QStringLiteral("probe");
    QTest::newRow("own book, by path") << book << probe << "" << kSeenOwn;
    QTest::newRow("own book, as ms-its:") << book << probe << "ms-its:origins.chm::" << kSeenOwnByBookUrl;
    QTest::newRow("mk:, absolute") << book << probe << "mk:@MSITStore:%SECRET::" << kSeenNothing;
    QTest::newRow("ms-its:, absolute") << book << probe << "ms-its:%SECRET::" << kSeenNothing;
    QTest::newRow("its:, absolute") << book << probe << "its:%SECRET::" << kSeenNothing;
    QTest::newRow("mk:, relative") << book << probe << "mk:@MSITStore:secret.chm::" << kSeenNothing;
    QTest::newRow("ms-its:, relative") << book << probe << "ms-its:secret.chm::" << kSeenNothing;
    QTest::newRow("its:, relative") << book << probe << "its:secret.chm::" << kSeenNothing;
    QTest::newRow("page address") << book << probe << "%HOST" << kSeenNothing;
    QTest::newRow("missing file") << book << probe << "ms-its:%MISSING::" << kSeenNothing;
    QTest::newRow("file that is no book") << book << probe << "ms-its:%NOTBOOK::" << kSeenNothing;
    QTest::newRow("script sets location") << book << "location" << "ms-its:secret.chm::" << "";
    QTest::newRow("script sets location, page address") << book << "location" << "%HOST" << "";
    QTest::newRow("script opens a window") << book << "open" << "mk:@MSITStore:%SECRET::" << "";
    QTest::newRow("script clicks a link") << book << "script click" << "ms-its:secret.chm::" << "";
    QTest::newRow("script clicks a web link") << book << "script click" << "%WEB" << "";
    QTest::newRow("script opens a web window") << book << "open" << "%WEB" << "";
    QTest::newRow("web page probes") << web << probe << "mk:@MSITStore:%SECRET::" << kSeenNothing;
    QTest::newRow("web page probes a page address") << web << probe << "%HOST" << kSeenNothing;
    QTest::newRow("web page sets location") << web << "location" << "mk:@MSITStore:%SECRET::" << "";
    QTest::newRow("web page sets location, page address") << web << "location" << "%HOST" << "";
    QTest::newRow("web page opens a window") << web << "open" << "ms-its:%SECRET::" << "";
    QTest::newRow("reader clicks a web page's link") << web << "reader click" << "its:%SECRET::" << "";
    QTest::newRow("web server redirects") << web << "redirect" << "mk:@MSITStore:%SECRET::" << "";
    QTest::newRow("web server redirects, page address") << web << "redirect" << "%HOST" << "";
}

void TestViewWidget::pagesReachOnlyTheirOwnBook()
{
    QFETCH(QString, from);
    QFETCH(QString, action);
    QFETCH(QString, target);
    QFETCH(QString, seen);

    LoopbackServer server;
    QVERIFY(server.isListening());
    const QString notBook = writeFile(QStringLiteral("notabook.chm"), "<html><body>SECRET-PAGE</body></html>");
    QVERIFY(!notBook.isEmpty());
    target.replace(QStringLiteral("%SECRET"), m_secret)
        .replace(QStringLiteral("%HOST"), pageScheme() + QStringLiteral("://") + bookHost(m_secret))
        .replace(QStringLiteral("%MISSING"), m_dir.filePath(QStringLiteral("missing.chm")))
        .replace(QStringLiteral("%NOTBOOK"), notBook)
        .replace(QStringLiteral("%WEB"), server.url(QString()));

    // The other book was open in this view before, so its page address is known to it.
    m_view->setBookPath(m_secret);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/secret.htm")); }));
    QCOMPARE(browser()->pageText().trimmed(), QStringLiteral("SECRET-PAGE"));
    FileOpenWatch watch(m_secret);
    FileOpenWatch notBookWatch(notBook);
    QVERIFY(watch.valid() && notBookWatch.valid());
    QList<QUrl> opened;
    browser()->setWebLinkHandler([&](const QUrl& url) { opened << url; });

    QString start;
    if (from == QLatin1String("book")) {
        m_view->setBookPath(m_origins);
        start = QStringLiteral("/probe.htm");
    } else {
        LCHMFile origins;
        QByteArray probeScript;
        QVERIFY(origins.openBook(m_origins) && origins.readFileBytes(&probeScript, QStringLiteral("/probe.js")));
        server.page = "<html><head><title>Web</title><style>a { display: block; font-size: 40px; }</style><script>"
                    + probeScript + "</script></head><body><a id='web' href='about:blank'>Web</a>"
                    "<a id='other' href='about:blank'>Other</a></body></html>";
        start = server.url(QStringLiteral("/web.htm"));
    }
    QVERIFY(loads([&] { m_view->setCurrentPage(start); }));
    const int requests = int(server.requests.size());

    const QString secretPage = jsText(target + QStringLiteral("/secret.htm"));
    if (action == QLatin1String("probe")) {
        pageValue(QStringLiteral("probe(%1, %2)").arg(jsText(target), jsText(server.url(QString()))));
        QTRY_VERIFY_WITH_TIMEOUT(!pageValue(QStringLiteral("probed")).toString().isEmpty(), kLoadTimeoutMs);
        QCOMPARE(pageValue(QStringLiteral("probed")).toString(), seen);
        if (from == QLatin1String("book")) {
            // The reader's click on the page's web link carries what the page saw, and no more.
            QVERIFY(clickOn(QStringLiteral("#web")));
            QTRY_COMPARE(opened.size(), 1);
            QCOMPARE(QUrl::fromPercentEncoding(opened.constFirst().query(QUrl::FullyEncoded).toUtf8()), seen);
            opened.clear();
        }
    } else if (action == QLatin1String("redirect")) {
        server.redirectTo = (target + QStringLiteral("/secret.htm")).toUtf8();
        pageValue(QStringLiteral("location.href = '/redirect'"));
    } else if (action == QLatin1String("location")) {
        pageValue(QStringLiteral("location.href = %1").arg(secretPage));
    } else if (action == QLatin1String("open")) {
        pageValue(QStringLiteral("window.open(%1)").arg(secretPage));
    } else {
        pageValue(QStringLiteral("document.getElementById('other').href = %1").arg(secretPage));
        if (action == QLatin1String("script click"))
            pageValue(QStringLiteral("document.getElementById('other').click()"));
        else
            QVERIFY(clickOn(QStringLiteral("#other")));
    }
    QTest::qWait(1000);
    QCOMPARE(m_view->currentPath(), start);
    QCOMPARE(opened, QList<QUrl>());
    QCOMPARE(server.requests.size(), requests + (action == QLatin1String("redirect") ? 1 : 0));
    if (!seen.contains(QLatin1String("OWN")))
        QVERIFY(!watch.touched());
    QVERIFY(!notBookWatch.touched());
}

void TestViewWidget::readerFollowsLinksToOtherBooksAndTheWeb()
{
    LoopbackServer server;
    QVERIFY(server.isListening());
    QList<QUrl> opened;
    browser()->setWebLinkHandler([&](const QUrl& url) { opened << url; });
    m_view->setBookPath(m_origins);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/probe.htm")); }));
    const QString ownOrigin = pageValue(QStringLiteral("location.origin")).toString();

    // ms-its:secret.chm::/secret.htm, the other book lying in the same folder.
    QVERIFY(clickLink(QStringLiteral("#other")));
    QCOMPARE(m_view->currentPath(), QStringLiteral("mk:@MSITStore:%1::/secret.htm").arg(m_secret));
    QCOMPARE(browser()->pageTitle(), QStringLiteral("The Other Book"));
    QCOMPARE(pageValue(QStringLiteral("secretOfTheBook")).toString(), QStringLiteral("SECRET-SCRIPT"));
    QVERIFY(pageValue(QStringLiteral("location.origin")).toString() != ownOrigin);
    QVERIFY(loads([&] { m_view->back(); }));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/probe.htm"));

    // A web link: the reader's click hands its address to the desktop's browser, once.
    const QString web = server.url(QStringLiteral("/a page?q=1#part"));
    pageValue(QStringLiteral("document.getElementById('web').href = %1").arg(jsText(web)));
    QVERIFY(clickOn(QStringLiteral("#web")));
    QTRY_COMPARE(opened, QList<QUrl>{QUrl(web)});
    // A click elsewhere, after which the page's script follows the link itself: nothing.
    pageValue(QStringLiteral("document.getElementById('text').onclick = function () {"
                             " document.getElementById('web').click(); location.href = %1; }").arg(jsText(web)));
    QVERIFY(clickOn(QStringLiteral("#text")));
    QTest::qWait(1000);
    QCOMPARE(opened.size(), 1);
    QCOMPARE(m_view->currentPath(), QStringLiteral("/probe.htm"));

    // The same links in a frame: the other book's page opens in the view, the web link in the
    // desktop's browser.
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/framed.htm")); }));
    QTRY_VERIFY(pageValue(QStringLiteral("document.getElementById('frame').contentDocument.getElementById('other') !== null")).toBool());
    bool clicked = false;
    QVERIFY(loads([&] { clicked = clickOn(QStringLiteral("#other"), QStringLiteral("#frame")); }));
    QVERIFY(clicked);
    QCOMPARE(m_view->currentPath(), QStringLiteral("mk:@MSITStore:%1::/secret.htm").arg(m_secret));
    QVERIFY(loads([&] { m_view->back(); }));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/framed.htm"));
    QTRY_VERIFY(pageValue(QStringLiteral("document.getElementById('frame').contentDocument.getElementById('web') !== null")).toBool());
    pageValue(QStringLiteral("document.getElementById('frame').contentDocument.getElementById('web').href = %1").arg(jsText(web)));
    QVERIFY(clickOn(QStringLiteral("#web"), QStringLiteral("#frame")));
    QTRY_COMPARE(opened.size(), 2);
    QCOMPARE(opened.constLast(), QUrl(web));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/framed.htm"));
    QCOMPARE(server.connections, 0);
}

void TestViewWidget::pageCommandsWithoutDialogs()
{
    m_view->setBookPath(m_english);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/index.htm")); }));

    const QString pdf = m_dir.filePath(QStringLiteral("page.pdf"));
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    QVERIFY(browser()->printPage(&printer));
    QFile printed(pdf);
    QVERIFY(printed.open(QIODevice::ReadOnly));
    QVERIFY(printed.read(5) == "%PDF-");

    const QString html = m_dir.filePath(QStringLiteral("saved.htm"));
    QVERIFY(browser()->savePage(html, false));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(html).size() > 0, kLoadTimeoutMs);
    // A book page that cannot be written where asked says so, and leaves nothing there.
    const QString nowhere = m_dir.filePath(QStringLiteral("missing/saved.htm"));
    QVERIFY(!browser()->savePage(nowhere, false));
    QVERIFY(!QFileInfo::exists(nowhere));
    QTRY_VERIFY(contents(html).contains("This is the start page"));
    const QString archive = m_dir.filePath(QStringLiteral("saved.mht"));
    browser()->savePage(archive, true);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(archive).size() > 0, kLoadTimeoutMs);

    QApplication::clipboard()->clear();
    browser()->selectAll();
    QVERIFY(!browser()->selection().value_or(TextRange()).isCollapsed());
    browser()->copy();
    QTRY_VERIFY(QApplication::clipboard()->text().contains(QStringLiteral("This is the start page")));
}

void TestViewWidget::keysOnThePage_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("path");
    QTest::addColumn<double>("zoom");       // the view's zoom
    QTest::addColumn<double>("pageZoom");   // the zoom the page reads
    const QString page = QStringLiteral("/sub/page.htm");
    const QString index = QStringLiteral("/index.htm");
    QTest::newRow("Alt+Left goes back") << QStringList{"Alt+Left"} << index << 1.0 << 0.0;
    QTest::newRow("Alt+Right goes forward") << QStringList{"Alt+Left", "Alt+Right"} << page << 1.0 << 0.0;
    QTest::newRow("Ctrl+Plus steps up") << QStringList{"Ctrl++"} << page << 1.1 << 1.1;
    QTest::newRow("Ctrl+= steps up") << QStringList{"Ctrl+="} << page << 1.1 << 1.1;
    QTest::newRow("Ctrl+Minus steps down") << QStringList{"Ctrl+-"} << page << 0.9 << 0.9;
    QTest::newRow("steps are the view's") << QStringList{"Ctrl++", "Ctrl++"} << page << 1.2000000000000002 << 1.2000000000000002;
    QTest::newRow("Ctrl+0 resets") << QStringList{"Ctrl++", "Ctrl++", "Ctrl+0"} << page << 1.0 << 1.0;
    QTest::newRow("from 1 after a reset") << QStringList{"Ctrl+-", "Ctrl+0", "Ctrl++"} << page << 1.1 << 1.1;
    QTest::newRow("Ctrl+wheel up") << QStringList{"Ctrl+Wheel+"} << page << 1.1 << 1.1;
    QTest::newRow("Ctrl+wheel down stops at 0.9") << QStringList{"Ctrl+Wheel-", "Ctrl+Wheel-"} << page << 0.9 << 0.9;
    QTest::newRow("zoom follows back") << QStringList{"Ctrl++", "Alt+Left"} << index << 1.1 << 1.1;
}

// Keys pressed with the focus in the page: history and the view's own zoom steps, which the
// engine's zoom never joins.
void TestViewWidget::keysOnThePage()
{
    QFETCH(QStringList, keys);
    QFETCH(QString, path);
    QFETCH(double, zoom);
    QFETCH(double, pageZoom);
    m_view->setBookPath(m_english);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/index.htm")); }));
    QVERIFY(clickLink(QStringLiteral("a[href=\"sub/page.htm\"]")));
    QVERIFY(focusedPage());

    for (const QString& key : std::as_const(keys)) {
        if (key.startsWith(QLatin1String("Alt+")))
            QVERIFY2(loads([&] { press(key); }), qPrintable(key));
        else
            press(key);
        QVERIFY(focusedPage());
    }
    QTRY_VERIFY2(m_view->zoomFactor == zoom, qPrintable(exact(m_view->zoomFactor)));
    QCOMPARE(m_view->currentPath(), path);
    QTRY_VERIFY2(browser()->zoom() == pageZoom, qPrintable(exact(browser()->zoom().value_or(-1))));
    QCOMPARE(page()->zoomFactor(), 1.0);
}

// Select all and copy are the page's own keys.
void TestViewWidget::copyAndSelectAllKeys()
{
    m_view->setBookPath(m_english);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/index.htm")); }));
    QApplication::clipboard()->clear();
    QVERIFY(focusedPage());
    press(QStringLiteral("Ctrl+A"));
    QTRY_VERIFY(!browser()->selection().value_or(TextRange()).isCollapsed());
    press(QStringLiteral("Ctrl+C"));
    QTRY_VERIFY(QApplication::clipboard()->text().contains(QStringLiteral("This is the start page")));
    // Backspace too: a text field on a page deletes with it, so it never goes back.
    for (const QShortcut* shortcut : m_view->findChildren<QShortcut*>())
        QVERIFY(shortcut->key() != QKeySequence(Qt::Key_Backspace));
}

void TestViewWidget::findBar_data()
{
    // index.htm holds "page" four times: "start page", "pages" twice, "page in a folder".
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("count");   // a pattern
    QTest::newRow("found as typed") << "page" << QStringList() << "1 of 4";
    QTest::newRow("Enter, the next") << "page" << QStringList{"Return"} << "2 of 4";
    QTest::newRow("after the last, the first") << "page" << QStringList{"Return", "Return", "Return", "Return"} << "1 of 4";
    QTest::newRow("Shift+Enter, the previous") << "page" << QStringList{"Shift+Return"} << "4 of 4";
    QTest::newRow("F3 from the page, the next") << "page" << QStringList{"page", "F3"} << "2 of 4";
    // Which match an overtaken find reaches is the engine's to say; it does find.
    QTest::newRow("Enter before the answer") << "page" << QStringList{"!Return"} << "[12] of 4";
    QTest::newRow("case ignored") << "PAGE" << QStringList() << "1 of 4";
    QTest::newRow("nothing found") << "quasar" << QStringList() << "No matches";
}

// Ctrl+F opens the bar over the page, which counts and steps through the matches; Escape, in
// the bar or in the page, closes it and gives the focus back to the page.
void TestViewWidget::findBar()
{
    QFETCH(QString, text);
    QFETCH(QStringList, keys);
    QFETCH(QString, count);
    m_view->setBookPath(m_english);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/index.htm")); }));
    QWidget* surface = focusedPage();
    QVERIFY(surface);
    FindBar* bar = m_view->findBar;
    QVERIFY(bar->isHidden());

    press(QStringLiteral("Ctrl+F"));
    QVERIFY(bar->isVisible());
    QCOMPARE(QApplication::focusWidget(), bar->field());
    // One line under the page, which keeps the rest.
    QTRY_COMPARE(bar->height(), bar->sizeHint().height());
    QCOMPARE(browser()->height() + bar->height(), m_view->height());
    QTest::keyClicks(bar->field(), text);
    for (QString key : std::as_const(keys)) {
        if (key == QLatin1String("page")) {
            QVERIFY(focusedPage());
            continue;
        }
        // "!": pressed before the page answered the find before
        if (!key.startsWith(QLatin1Char('!')))
            QTRY_VERIFY_WITH_TIMEOUT(!bar->isFinding(), kLoadTimeoutMs);
        press(key.remove(QLatin1Char('!')));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!bar->isFinding(), kLoadTimeoutMs);
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(count)).match(bar->countText()).hasMatch(),
             qPrintable(bar->countText()));

    // Escape in the bar
    bar->field()->setFocus();
    press(QStringLiteral("Esc"));
    QVERIFY(bar->isHidden());
    QVERIFY(bar->countText().isEmpty());
    QCOMPARE(QApplication::focusWidget(), surface);

    // ... and in the page; the bar opens again on the text it had.
    press(QStringLiteral("Ctrl+F"));
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->field()->selectedText(), text);
    QVERIFY(focusedPage());
    press(QStringLiteral("Esc"));
    QVERIFY(bar->isHidden());
}

void TestViewWidget::pagesRewritingTheirAddressSettle_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("ms-its: while the address lacks it") << QStringLiteral("/rewrite.htm");
    QTest::newRow("mk:@MSITStore:, with an image so named") << QStringLiteral("/rewrite-mk.htm");
}

void TestViewWidget::pagesRewritingTheirAddressSettle()
{
    // Books whose scripts put the page under its own book URL: the page is served under that
    // address as asked, loads once and rests, and is reported by its bare in-book path.
    QFETCH(QString, path);
    m_view->setBookPath(m_viewPages);
    QSignalSpy started(page(), &QWebEnginePage::loadStarted);
    QSignalSpy reports(m_view, &ViewWidget::urlToFavorites);
    QVERIFY(loads([&] { m_view->setCurrentPage(path); }));
    const qint64 pid = page()->renderProcessPid();
    const qint64 ticksBefore = cpuTicks(pid);
    QTest::qWait(2000);
    const qint64 busyTicks = cpuTicks(pid) - ticksBefore;
    QCOMPARE(started.count(), 1);
    QCOMPARE(reports.count(), 1);
    QCOMPARE(m_view->currentPath(), path);
    // A clock tick is 10 ms: the renderer idles nearly all of the two seconds.
    QVERIFY2(ticksBefore >= 0 && busyTicks < 50, qPrintable(QString::number(busyTicks)));
    if (path == QLatin1String("/rewrite-mk.htm"))
        QTRY_VERIFY(pageValue(QStringLiteral("document.images[0].naturalWidth")).toInt() > 0);
}

void TestViewWidget::historyOutlivesFailedLoads()
{
    QList<QVariantList> states;
    connect(m_view, &ViewWidget::historyChanged, this,
            [&](bool back, bool forward, bool home) { states << QVariantList{back, forward, home}; });
    const auto state = [&] { return states.isEmpty() ? QVariantList() : states.constLast(); };
    m_view->setBookPath(m_english);
    m_view->setCurrentPage(QStringLiteral("/index.htm"));
    m_view->setHomeUrl(QStringLiteral("/index.htm"));
    QVERIFY(loads([] {}));
    // At the start there is nowhere to go back to: the blank page before the book is no place.
    QTRY_COMPARE(state(), (QVariantList{false, false, true}));
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/intro.htm")); }));
    QTRY_COMPARE(state(), (QVariantList{true, false, true}));

    // A web address that cannot be reached: nothing listens on port 1.
    QVERIFY(!loads([&] { m_view->setCurrentPage(QStringLiteral("http://127.0.0.1:1/")); }));
    QTRY_COMPARE(state(), (QVariantList{true, false, true}));

    QVERIFY(loads([&] { m_view->back(); }));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/intro.htm"));
    // The dead page is passed over going forward too.
    QTRY_COMPARE(state(), (QVariantList{true, false, true}));
    QVERIFY(loads([&] { m_view->back(); }));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/index.htm"));
    QTRY_COMPARE(state(), (QVariantList{false, true, true}));
    QVERIFY(loads([&] { m_view->forward(); }));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/intro.htm"));
    QVERIFY(loads([&] { m_view->home(); }));
    QCOMPARE(m_view->currentPath(), QStringLiteral("/index.htm"));
    QTRY_COMPARE(state(), (QVariantList{true, false, true}));
}

void TestViewWidget::backAfterAnAnchorReturnsToThePlace_data()
{
    QTest::addColumn<QString>("link");
    QTest::newRow("anchor") << QStringLiteral("#jump");
    QTest::newRow("page and anchor") << QStringLiteral("#jump-page");
    QTest::newRow("book URL and anchor") << QStringLiteral("#jump-book");
    QTest::newRow("from a panel") << QString();
}

void TestViewWidget::backAfterAnAnchorReturnsToThePlace()
{
    QFETCH(QString, link);
    m_view->resize(400, 300);
    m_view->setBookPath(m_viewPages);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/anchors.htm")); }));
    pageValue(QStringLiteral("document.getElementById('jump').scrollIntoView()"));
    const QPoint place = browser()->scrollPosition().value_or(QPoint());
    QVERIFY(place.y() > 0);
    if (link.isEmpty())
        m_view->setCurrentPage(QStringLiteral("/anchors.htm#end"));
    else
        QVERIFY(clickOn(link));
    QTRY_COMPARE(m_view->currentPath(), QStringLiteral("/anchors.htm#end"));
    QTRY_VERIFY(browser()->scrollPosition().value_or(QPoint()).y() > place.y());
    QTest::qWait(300);

    // One press, and the reader is where the jump was made.
    m_view->back();
    QTRY_COMPARE(m_view->currentPath(), QStringLiteral("/anchors.htm"));
    QTRY_COMPARE(browser()->scrollPosition().value_or(QPoint()), place);
    QTest::qWait(300);
    QCOMPARE(browser()->scrollPosition().value_or(QPoint()), place);
    QCOMPARE(m_view->currentPath(), QStringLiteral("/anchors.htm"));
}

void TestViewWidget::printsLongPagesAsDocuments()
{
    // A page of some two hundred screens, as a user manual has.
    const QString book = testBookPath(QStringLiteral("printing.chm"));
    QVERIFY2(QFile::exists(book), qPrintable(book));
    m_view->resize(1280, 800);
    m_view->setBookPath(book);
    QVERIFY(loads([&] { m_view->setCurrentPage(QStringLiteral("/manual.htm")); }));
    const int screens = pageValue(QStringLiteral("Math.floor(document.documentElement.scrollHeight / innerHeight)")).toInt();
    QVERIFY2(screens >= 200, qPrintable(QString::number(screens)));
    LCHMFile file;
    QVERIFY(file.openBook(book));
    QByteArray html, image;
    QVERIFY(file.readFileBytes(&html, QStringLiteral("/manual.htm")));
    QVERIFY(file.readFileBytes(&image, QStringLiteral("/pagewick.gif")));
    const qint64 sourceBytes = html.size() + 40 * image.size();

    // To a PDF file: the engine's own PDF, with the text, while the window goes on answering.
    const QString pdf = m_dir.filePath(QStringLiteral("manual.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    WindowFreezeMeter meter;
    QElapsedTimer clock;
    clock.start();
    meter.start();
    auto printed = std::make_shared<std::optional<bool>>();
    browser()->printToPdf(pdf, printer.pageLayout(), [printed](bool ok) { *printed = ok; });
    QTRY_VERIFY_WITH_TIMEOUT(printed->has_value(), 60000);
    meter.stop();
    QVERIFY(printed->value());
    qInfo("PDF of a %d-screen page: %lld bytes from %lld of HTML and images, in %lld ms; longest pause of "
          "the window %.0f ms", screens, QFileInfo(pdf).size(), sourceBytes, clock.elapsed(), meter.longestGapMs());
    QVERIFY2(meter.longestGapMs() < 500, qPrintable(QString::number(meter.longestGapMs())));
    QVERIFY(QFileInfo(pdf).size() < 10 * sourceBytes);
    QPdfDocument document;
    QCOMPARE(document.load(pdf), QPdfDocument::Error::None);
    QVERIFY(document.pageCount() > 50);
    QVERIFY(document.getAllText(0).text().contains(QStringLiteral("Paragraph 1 of section 1 of the manual")));
    QVERIFY(document.getAllText(document.pageCount() - 1).text().contains(QStringLiteral("of section 40")));

    // The preview: every sheet shown within seconds, at screen resolution, in bounded memory.
    const qint64 memoryBefore = memoryKb();
    qint64 shownMs = -1;
    qint64 memoryShownKb = -1;
    int pages = 0;
    QTimer watch;
    clock.restart();
    connect(&watch, &QTimer::timeout, this, [&] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QPrintPreviewDialog*>(window);
            auto* preview = dialog ? dialog->findChild<QPrintPreviewWidget*>() : nullptr;
            if (preview && dialog->isVisible() && preview->pageCount() > 0) {
                shownMs = clock.elapsed();
                memoryShownKb = memoryKb();
                pages = preview->pageCount();
                dialog->reject();
            }
        }
    });
    watch.start(20);
    m_view->printPreview();
    watch.stop();
    const qint64 memoryGrowthKb = memoryShownKb - memoryBefore;
    qInfo("preview of the %d-screen page: %d pages shown after %lld ms, holding %lld MB more", screens,
          pages, shownMs, memoryGrowthKb / 1024);
    QVERIFY(pages > 50);
    // About 4 s on a quiet machine of two cores; the bound leaves room for a busy one.
    QVERIFY2(shownMs >= 0 && shownMs < 20000, qPrintable(QString::number(shownMs)));
    // 400 to 600 MB here, most of it the engine's own; sheets drawn at print resolution took
    // gigabytes.
    QVERIFY2(memoryGrowthKb < 1024 * 1024, qPrintable(QString::number(memoryGrowthKb)));
}

namespace {

// The pages a bound PDF's outline items and links lead to, read back with qpdf: the outline as
// "title=page" items (pages from 1, "-" for none), "[...]" around an item's children; the links
// as "page>page" inside the PDF and "page>URI" for the others.
struct BoundPdf
{
    int pages = 0;
    QString title;
    QString outline;
    QStringList links;
};

BoundPdf readBoundPdf(const QString& path)
{
    BoundPdf result;
    QPDF pdf;
    pdf.processFile(QFile::encodeName(path).constData());
    const std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
    result.pages = int(pages.size());
    const auto pageNumber = [&pages](QPDFObjectHandle page) {
        for (size_t i = 0; i < pages.size(); ++i) {
            if (pages[i].getObjectHandle().getObjGen() == page.getObjGen())
                return QString::number(i + 1);
        }
        return QStringLiteral("-");
    };
    result.title = QString::fromStdString(pdf.getTrailer().getKey("/Info").getKey("/Title").getUTF8Value());
    QPDFOutlineDocumentHelper outlines(pdf);
    std::function<QString(std::vector<QPDFOutlineObjectHelper>)> items = [&](std::vector<QPDFOutlineObjectHelper> level) {
        QStringList texts;
        for (QPDFOutlineObjectHelper& item : level) {
            QString text = QString::fromStdString(item.getTitle()) + QLatin1Char('=') + pageNumber(item.getDestPage());
            if (!item.getKids().empty())
                text += QLatin1String(" [") + items(item.getKids()) + QLatin1Char(']');
            texts << text;
        }
        return texts.join(QLatin1String("; "));
    };
    result.outline = items(outlines.getTopLevelOutlines());
    for (size_t i = 0; i < pages.size(); ++i) {
        for (QPDFAnnotationObjectHelper& annotation : QPDFPageObjectHelper(pages[i]).getAnnotations("/Link")) {
            QPDFObjectHandle link = annotation.getObjectHandle();
            QString target;
            if (link.getKey("/Dest").isArray())
                target = pageNumber(link.getKey("/Dest").getArrayItem(0));
            else
                target = QString::fromStdString(link.getKey("/A").getKey("/URI").getUTF8Value());
            result.links << QStringLiteral("%1>%2").arg(i + 1).arg(target);
        }
    }
    result.links.sort();
    return result;
}

} // namespace

void TestViewWidget::exportsBooksAsOnePdf_data()
{
    QTest::addColumn<QString>("chapter");        // an in-book path, or "#" and an entry's number
    QTest::addColumn<QString>("outline");
    QTest::addColumn<QStringList>("links");      // BOOK: the book's path, DIR: its folder
    QTest::addColumn<QStringList>("skipped");

    // /index.htm is named twice (printed once, at its first entry); /ch2/loop.htm never ends
    // loading; /orphan.htm is in no entry; /ch2/gamma.htm fills two sheets, its first linking to
    // a place on its second.
    QTest::newRow("whole book")
        << QString()
        << "Welcome=1; Chapter One=2 [Alpha=3; Welcome Again=1]; Chapter Two=4 [Endless=-; Gamma=5]; "
           "Appendix=3 [Alpha Again=3]"
        << QStringList{"1>3", "1>https://example.org/manual", "1>mk:@MSITStore:BOOK::/orphan.htm",
                       "1>mk:@MSITStore:DIR/other.chm::/far.htm", "2>5", "3>1", "3>4", "4>5",
                       "5>6", "5>mailto:someone@example.org"}
        << QStringList{"/ch2/loop.htm"};
    // Pages of the book outside the chapter become links into the book.
    QTest::newRow("chapter") << "/ch1/intro.htm" << "Chapter One=1 [Alpha=2; Welcome Again=3]"
                             << QStringList{"1>mk:@MSITStore:BOOK::/ch2/gamma.htm", "2>3",
                                            "2>mk:@MSITStore:BOOK::/ch2/beta.htm", "3>2",
                                            "3>https://example.org/manual", "3>mk:@MSITStore:BOOK::/orphan.htm",
                                            "3>mk:@MSITStore:DIR/other.chm::/far.htm"}
                             << QStringList();
    QTest::newRow("chapter named by another spelling") << "ch1\\ALPHA.htm#top" << "Alpha=1"
                                                       << QStringList{"1>mk:@MSITStore:BOOK::/ch2/beta.htm",
                                                                      "1>mk:@MSITStore:BOOK::/index.htm"}
                                                       << QStringList();
    const QStringList alphaLinks{"1>mk:@MSITStore:BOOK::/ch2/beta.htm", "1>mk:@MSITStore:BOOK::/index.htm"};
    QTest::newRow("chapter under a heading without a page") << "#7" << "Appendix=1 [Alpha Again=1]" << alphaLinks
                                                            << QStringList();
    QTest::newRow("chapter by entry number") << "#2" << "Alpha=1" << alphaLinks << QStringList();
}

void TestViewWidget::exportsBooksAsOnePdf()
{
    QFETCH(QString, chapter);
    QFETCH(QString, outline);
    QFETCH(QStringList, links);
    QFETCH(QStringList, skipped);

    QTemporaryDir folder(m_dir.filePath(QStringLiteral("export XXXXXX")));
    const QString book = folder.filePath(QStringLiteral("bound book.chm"));
    QVERIFY(QFile::copy(testBookPath(QStringLiteral("pdfbook.chm")), book));
    const QString output = folder.filePath(QStringLiteral("bound.pdf"));
    BackgroundRunner runner;
    BookPdfExport exporter(runner);
    QSignalSpy finished(&exporter, &BookPdfExport::finished);
    BookChapter scope;
    scope.entry = chapter.startsWith(QLatin1Char('#')) ? chapter.mid(1).toInt() : -1;
    if (!chapter.startsWith(QLatin1Char('#')))
        scope.page = chapter;
    PdfExportRequest request{book, scope, output, QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10)), 8000};
    // The window answers throughout: pages are printed by the engine, the PDF written on a worker.
    WindowFreezeMeter meter;
    meter.start();
    QVERIFY(exporter.start(request));
    QVERIFY(finished.wait(120000));
    meter.stop();
    qInfo("longest pause of the window while exporting: %.0f ms", meter.longestGapMs());
    QVERIFY2(finished.at(0).at(0).toBool(), qPrintable(finished.at(0).at(1).toString()));
    QStringList skippedPaths;
    for (const QString& page : exporter.skippedPages())
        skippedPaths << page.section(QLatin1Char(' '), 0, 0);
    QCOMPARE(skippedPaths, skipped);
    for (const QString& page : std::as_const(skipped))
        QVERIFY(finished.at(0).at(1).toString().contains(page));

    const BoundPdf pdf = readBoundPdf(output);
    QCOMPARE(pdf.title, QStringLiteral("Binding Test Book"));
    QCOMPARE(pdf.outline, outline);
    const QString encodedBook = QString::fromLatin1(QUrl::toPercentEncoding(book, "/"));
    const QString encodedFolder = QString::fromLatin1(QUrl::toPercentEncoding(folder.path(), "/"));
    QStringList expectedLinks;
    for (QString link : std::as_const(links))
        expectedLinks << link.replace(QLatin1String("BOOK"), encodedBook).replace(QLatin1String("DIR"), encodedFolder);
    expectedLinks.sort();
    QCOMPARE(pdf.links, expectedLinks);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);   // the book and the PDF
}

void TestViewWidget::cancelledExportLeavesNothing()
{
    QTemporaryDir folder(m_dir.filePath(QStringLiteral("cancel XXXXXX")));
    const QString book = folder.filePath(QStringLiteral("book.chm"));
    QVERIFY(QFile::copy(testBookPath(QStringLiteral("pdfbook.chm")), book));
    // A PDF of the same name from before stays as it was.
    const QString output = writeFile(QStringLiteral("cancel-old.pdf"), "the old file");
    BackgroundRunner runner;
    BookPdfExport exporter(runner);
    QSignalSpy finished(&exporter, &BookPdfExport::finished);
    connect(&exporter, &BookPdfExport::progress, &exporter, [&exporter](int page) {
        if (page == 3)
            exporter.cancel();
    });
    QVERIFY(exporter.start({book, BookChapter(), output, QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()), 8000}));
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY(!exporter.isRunning());
    QFile old(output);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("the old file"));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"book.chm"});
    QVERIFY(QDir(QFileInfo(output).path()).entryList({QStringLiteral("cancel-old.pdf.*")}, QDir::Files | QDir::Hidden).isEmpty());
}

QColor TestViewWidget::shownAt(const QPoint& point)
{
    return browser()->webView()->grab().toImage().pixelColor(point);
}

bool TestViewWidget::showPage(const QByteArray& html, const QVector<ChmWriterObject>& more)
{
    static int serial = 0;
    QVector<ChmWriterObject> objects = {{"/page.htm", html}};
    objects += more;
    const QString book = writeBook(QStringLiteral("colors%1.chm").arg(++serial), objects);
    m_view->setBookPath(book);
    return !book.isEmpty() && loads([&] { m_view->setCurrentPage(QStringLiteral("/page.htm")); });
}

namespace {

// Near enough in each channel to count as the same colour on the screen.
bool near(const QColor& one, const QColor& other, int tolerance = 24)
{
    return std::abs(one.red() - other.red()) <= tolerance && std::abs(one.green() - other.green()) <= tolerance
        && std::abs(one.blue() - other.blue()) <= tolerance;
}

const QByteArray kLongText = QByteArray("<p>Plain words to read at night. </p>").repeated(200);

} // namespace

void TestViewWidget::darkPages_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<QString>("state");       // what the page reports in dark
    QTest::addColumn<QColor>("lightGround");  // the ground shown in the book's colours
    QTest::addColumn<QColor>("darkGround");   // and in dark
    QTest::addColumn<bool>("framesTurned");   // frames darkened by themselves, not with the page

    QTest::newRow("no colours of its own")
        << QByteArray("<html><body>") + kLongText + "</body></html>" << "dark" << QColor(Qt::white) << QColor(Qt::black) << false;
    QTest::newRow("colours of its own")
        << QByteArray("<html><body style='background: #ffffe0; color: #333'>") + kLongText + "</body></html>"
        << "dark" << QColor(0xff, 0xff, 0xe0) << QColor(0x0e, 0x0e, 0x00) << false;
    // A page that styles itself for dark gets its own dark style, not an inverted one.
    const QByteArray ownDark("<html><head><style>body { background: white; color: black }"
                             " @media screen and (prefers-color-scheme: dark) { body { background: rgb(10, 40, 70); color: #ddd } }"
                             " @media (prefers-color-scheme: light) { p { color: #222 } }</style></head><body>");
    QTest::newRow("dark styles of its own")
        << ownDark + kLongText + "</body></html>" << "own" << QColor(Qt::white) << QColor(10, 40, 70) << false;
    // Its frames, without such styles, are darkened by themselves.
    QTest::newRow("frame in a page with dark styles of its own")
        << ownDark + "<iframe src='a.htm' style='width: 50%; height: 300px'></iframe>" + kLongText + "</body></html>"
        << "own" << QColor(Qt::white) << QColor(10, 40, 70) << true;
    // Frames are darkened as their page is.
    QTest::newRow("frames")
        << QByteArray("<html><frameset cols='50%,50%'><frame src='a.htm'><frame src='b.htm'></frameset></html>")
        << "dark" << QColor(Qt::white) << QColor(Qt::black) << false;
}

void TestViewWidget::darkPages()
{
    QFETCH(QByteArray, html);
    QFETCH(QString, state);
    QFETCH(QColor, lightGround);
    QFETCH(QColor, darkGround);
    QFETCH(bool, framesTurned);
    const QByteArray frame = "<html><body>" + kLongText + "</body></html>";
    QVERIFY(showPage(html, {{"/a.htm", frame}, {"/b.htm", frame}}));
    browser()->scrollTo(0, 300);
    QTest::qWait(100);
    const std::optional<QPoint> scrolled = browser()->scrollPosition();
    const QString text = browser()->pageText();
    const QPoint ground(m_view->width() - 40, m_view->height() - 10);
    QTRY_VERIFY2(near(shownAt(ground), lightGround), qPrintable(shownAt(ground).name()));
    const QString stateScript = PageScript::colorsCall(QStringLiteral("state()"));

    // The shown page turns dark within 1.5 s, where it was, with every character as it was.
    QElapsedTimer clock;
    clock.start();
    m_view->setDarkPages(true);
    QTRY_VERIFY_WITH_TIMEOUT(near(shownAt(ground), darkGround), 1500);
    qInfo("drawn dark after %lld ms", clock.elapsed());
    QCOMPARE(browser()->evaluate(stateScript).toString(), state);
    QCOMPARE(browser()->scrollPosition(), scrolled);
    QCOMPARE(browser()->pageText(), text);

    // Frames are darkened once: by their page's filter, or by their own where the page has none.
    const QString frameFilters = pageValue(QStringLiteral(
        "Array.from(document.querySelectorAll('frame, iframe')).map(f => getComputedStyle(f.contentDocument.documentElement).filter).join()"))
        .toString();
    QVERIFY2(frameFilters.contains(QLatin1String("invert")) == framesTurned, qPrintable(frameFilters));

    // The next page is dark from the start; back to the book's colours, pages are as before.
    QVERIFY(loads([&] { m_view->refresh(); }));
    QCOMPARE(browser()->evaluate(stateScript).toString(), state);
    QTRY_VERIFY2(near(shownAt(ground), darkGround), qPrintable(shownAt(ground).name()));
    m_view->setDarkPages(false);
    QTRY_VERIFY_WITH_TIMEOUT(near(shownAt(ground), lightGround), 1500);
    QCOMPARE(browser()->evaluate(stateScript).toString(), QStringLiteral("book"));
}

void TestViewWidget::marksOnDarkPages()
{
    QVERIFY(showPage("<html><body><p style='font-size: 40px'>A note here, then a hit there, and plain text.</p>"
                     "<img id='photo' width='120' height='80' src='photo.bmp'></body></html>",
                     {{"/photo.bmp", [] {
                           QImage photo(120, 80, QImage::Format_RGB32);
                           photo.fill(QColor(200, 40, 30));
                           QByteArray bytes;
                           QBuffer buffer(&bytes);
                           buffer.open(QIODevice::WriteOnly);
                           photo.save(&buffer, "BMP");
                           return bytes;
                       }()}}));
    TextRange note = browser()->documentRange();
    QVERIFY(note.findText(QStringLiteral("note here")));
    TextRange hit = browser()->documentRange();
    QVERIFY(hit.findText(QStringLiteral("hit there")));
    // The colours the view paints notes (the default) and search hits in.
    const QColor noteColor(QStringLiteral("#a4e16f"));
    const QColor hitColor(QStringLiteral("#00bfff"));
    browser()->paintBackground(note, noteColor.name());
    browser()->paintBackground(hit, hitColor.name());
    m_view->setDarkPages(true);

    // Read through the page: each mark's colour, turned back by a filter of its own under the
    // page's, and where it is.
    const auto markAt = [this](const QString& text) {
        const QVariantList answer = pageValue(QStringLiteral(
            "(function () { const s = Array.from(document.querySelectorAll('span')).find(s => s.textContent === %1);"
            " const r = s.getBoundingClientRect(); const c = getComputedStyle(s);"
            " return [c.backgroundColor, c.filter, getComputedStyle(document.documentElement).filter,"
            " r.left + 2, r.top + 2]; })()").arg(jsText(text))).toList();
        return answer;
    };
    const QVariantList noteMark = markAt(QStringLiteral("note here"));
    const QVariantList hitMark = markAt(QStringLiteral("hit there"));
    QCOMPARE(noteMark.value(0).toString(), QStringLiteral("rgb(164, 225, 111)"));
    QCOMPARE(hitMark.value(0).toString(), QStringLiteral("rgb(0, 191, 255)"));
    QVERIFY2(noteMark.value(2).toString().contains(QLatin1String("invert(1)")), qPrintable(noteMark.value(2).toString()));
    QCOMPARE(noteMark.value(1), noteMark.value(2));
    QCOMPARE(hitMark.value(1), hitMark.value(2));

    // As drawn: each mark near its own colour, the page dark, the photograph as it was.
    const QPoint notePoint(noteMark.value(3).toInt(), noteMark.value(4).toInt());
    const QPoint hitPoint(hitMark.value(3).toInt(), hitMark.value(4).toInt());
    const QVariantList photo = pageValue(QStringLiteral(
        "(function () { const r = document.getElementById('photo').getBoundingClientRect();"
        " return [r.left + r.width / 2, r.top + r.height / 2]; })()")).toList();
    const QPoint photoPoint(photo.value(0).toInt(), photo.value(1).toInt());
    QTRY_VERIFY2(shownAt(QPoint(m_view->width() - 40, m_view->height() - 10)).lightness() < 30,
                 qPrintable(shownAt(QPoint(m_view->width() - 40, m_view->height() - 10)).name()));
    QVERIFY2(near(shownAt(notePoint), noteColor, 40), qPrintable(shownAt(notePoint).name()));
    QVERIFY2(near(shownAt(hitPoint), hitColor, 40), qPrintable(shownAt(hitPoint).name()));
    QVERIFY2(near(shownAt(photoPoint), QColor(200, 40, 30), 48), qPrintable(shownAt(photoPoint).name()));
}

void TestViewWidget::darkPagesPrintInBookColors()
{
    QVERIFY(showPage("<html><body>" + kLongText + "</body></html>"));
    m_view->setDarkPages(true);
    QTRY_VERIFY(shownAt(QPoint(m_view->width() - 40, m_view->height() - 10)).lightness() < 30);
    QPrinter printer(QPrinter::HighResolution);
    auto pdf = std::make_shared<std::optional<QByteArray>>();
    browser()->pdfOfPage(printer.pageLayout(), [pdf](const QByteArray& bytes) { *pdf = bytes; });
    QTRY_VERIFY_WITH_TIMEOUT(pdf->has_value(), 60000);
    QBuffer buffer(&**pdf);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QPdfDocument document;
    document.load(&buffer);
    QTRY_COMPARE(document.status(), QPdfDocument::Status::Ready);
    const QImage sheet = document.render(0, QSize(300, 400));
    QCOMPARE(sheet.pixelColor(5, 5), QColor(Qt::white));
    QCOMPARE(sheet.pixelColor(150, 390), QColor(Qt::white));
    QVERIFY(document.getAllText(0).text().contains(QStringLiteral("Plain words")));
    // And the page on the screen is dark again.
    QTRY_VERIFY(shownAt(QPoint(m_view->width() - 40, m_view->height() - 10)).lightness() < 30);
    QCOMPARE(browser()->evaluate(PageScript::colorsCall(QStringLiteral("state()"))).toString(), QStringLiteral("dark"));
}

int main(int argc, char** argv)
{
    prepareBrowserControl();
    QApplication app(argc, argv);
    TestViewWidget test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_viewwidget.moc"

// The search panel against compiled books with a real full-text index: starting a search,
// the sorted result list, searches that find nothing, and what a double click sends.
//
// Words of the english test book: "nebula" is on index.htm (Welcome), intro.htm (Introduction)
// and sub/other.htm (Another Page in the Folder); "zephyr" only on chapter2.htm. The ranking
// book's pages hold "lantern" in an order of relevance that follows from their text.
//
// The tests of the list's contents sort it by title (the order the settings keep), except
// those of the order itself.

#include "backgroundrunner.h"
#include "chmwriter.h"
#include "lchmfile.h"
#include "querymatcher.h"
#include "searchresultdelegate.h"
#include "searchwidget.h"
#include "testbooks.h"
#include "textindex.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

#include <sched.h>
#include <unistd.h>

namespace {

using Lane = BackgroundRunner::Lane;
using Task = BackgroundRunner::Task;

// How the kernel schedules a thread of this process, from /proc/self/task/<tid>/stat.
struct Scheduling
{
    int nice = 0;
    int policy = -1;
    QByteArray name;
};

Scheduling schedulingOf(const QString& tid)
{
    QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.readAll();
    const qsizetype open = line.indexOf('(');
    const qsizetype close = line.lastIndexOf(')');
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');   // from field 3, the state
    return {fields.value(16).toInt(), fields.value(38).toInt(), line.mid(open + 1, close - open - 1)};
}

quint32 le32At(const QByteArray& data, qsizetype at)
{
    return quint32(uchar(data[at])) | quint32(uchar(data[at + 1])) << 8
        | quint32(uchar(data[at + 2])) << 16 | quint32(uchar(data[at + 3])) << 24;
}

void setLe32At(QByteArray& data, qsizetype at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        data[at + i] = char((v >> (8 * i)) & 0xFF);
}

// The objects of the english book, its metadata and index among them.
QVector<ChmWriterObject> englishObjects()
{
    LCHMFile book;
    QStringList paths;
    if (!book.openBook(testBookPath(QStringLiteral("english.chm"))) || !book.listFiles(&paths))
        return {};
    QVector<ChmWriterObject> objects;
    for (const QString& path : std::as_const(paths)) {
        QByteArray data;
        if (path.startsWith(QLatin1Char('/')) && !path.endsWith(QLatin1Char('/')) && book.readFileBytes(&data, path))
            objects.append({path.toLatin1(), data});
    }
    return objects;
}

// A copy of the english book, written back as an uncompressed container, in which the topic
// /intro.htm has an empty title and /sub/other.htm the title of /index.htm ("Welcome").
// The full-text index is the compiler's own.
bool writeRetitledBook(const QString& fileName)
{
    QVector<ChmWriterObject> objects = englishObjects();

    auto object = [&](const char* path) -> QByteArray* {
        for (ChmWriterObject& o : objects) {
            if (o.path == path)
                return &o.data;
        }
        return nullptr;
    };
    QByteArray* topics = object("/#TOPICS");
    QByteArray* strings = object("/#STRINGS");
    const QByteArray* urltbl = object("/#URLTBL");
    const QByteArray* urlstr = object("/#URLSTR");
    if (!topics || !strings || !urltbl || !urlstr)
        return false;

    // Each /#TOPICS record: title offset into /#STRINGS at +4, /#URLTBL offset at +8; the
    // /#URLTBL record holds the /#URLSTR offset of the path at +8, the path 8 bytes further.
    auto recordOf = [&](const QByteArray& wanted) -> qsizetype {
        for (qsizetype at = 0; at + 16 <= topics->size(); at += 16) {
            const quint32 table = le32At(*topics, at + 8);
            if (qsizetype(table) + 12 > urltbl->size())
                continue;
            const quint32 str = le32At(*urltbl, table + 8) + 8;
            if (qsizetype(str) < urlstr->size() && urlstr->mid(str).startsWith(wanted + '\0'))
                return at;
        }
        return -1;
    };
    const qsizetype intro = recordOf("intro.htm");
    const qsizetype other = recordOf("sub/other.htm");
    const qsizetype index = recordOf("index.htm");
    if (intro < 0 || other < 0 || index < 0)
        return false;
    setLe32At(*topics, intro + 4, quint32(strings->size()));
    strings->append('\0');
    setLe32At(*topics, other + 4, le32At(*topics, index + 4));

    return writeChmContainer(fileName, objects);
}

// The result list as "title|path" lines, in the order shown.
QStringList resultsOf(const SearchWidget& panel)
{
    QStringList lines;
    for (int row = 0; row < panel.resultList()->count(); ++row) {
        const QListWidgetItem* item = panel.resultList()->item(row);
        if (!item->toolTip().startsWith(item->text() + QLatin1Char('\n')))
            lines << QStringLiteral("tool tip differs: ") + item->toolTip();
        lines << item->text() + QLatin1Char('|') + item->data(Qt::UserRole).toString();
    }
    return lines;
}

// Searches `query` in `panel` and waits for the results and the snippets of the rows shown.
void searchAndWaitForSnippets(SearchWidget& panel, const QString& query)
{
    QSignalSpy made(&panel, &SearchWidget::snippetsMade);
    panel.queryEdit()->setText(query);
    panel.search();
    QTRY_VERIFY(!panel.isSearching());
    QTRY_VERIFY(made.count() > 0);
}

QListWidgetItem* itemOf(const SearchWidget& panel, const QString& url)
{
    for (int row = 0; row < panel.resultList()->count(); ++row) {
        if (panel.resultList()->item(row)->data(Qt::UserRole).toString() == url)
            return panel.resultList()->item(row);
    }
    return nullptr;
}

const QStringList kNebulaResults = {"Another Page in the Folder|/sub/other.htm",
                                    "Introduction|/intro.htm", "Welcome|/index.htm"};

} // namespace

class TestSearchPanel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void mnemonic();
    void enterAndButtonSearchAlike_data();
    void enterAndButtonSearchAlike();
    void nothingToSearch_data();
    void nothingToSearch();
    void searchFindingNothing_data();
    void searchFindingNothing();
    void untitledAndEqualTitles();
    void doubleClickSendsPathAndQuery();
    void pageText();
    void runnerCancels_data();
    void runnerCancels();
    void lanesKeepTheirPriorities();
    void snippets_data();
    void snippets();
    void unreadablePageKeepsItsTitle();
    void order_data();
    void order();

private:
    QString m_english;
    QTemporaryDir m_dir;
    BackgroundRunner m_runner;
};

void TestSearchPanel::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);   // settings and the index cache
    QSettings(QStringLiteral("Pagewick"), QStringLiteral("size pos color"))
        .setValue(QLatin1String(SearchWidget::OrderSettingsKey), QStringLiteral("title"));
    m_english = testBookPath(QStringLiteral("english.chm"));
    QVERIFY(QFileInfo::exists(m_english));
    QVERIFY(m_dir.isValid());
}

void TestSearchPanel::mnemonic()
{
    // Alt+O, the prompt's mnemonic, puts the focus in the line edit.
    SearchWidget panel(&m_runner);
    panel.show();
    QVERIFY(QTest::qWaitForWindowActive(&panel));
    panel.searchButton()->setFocus();
    QTest::keyClick(&panel, Qt::Key_O, Qt::AltModifier);
    QVERIFY(panel.queryEdit()->hasFocus());
}

void TestSearchPanel::enterAndButtonSearchAlike_data()
{
    QTest::addColumn<bool>("byEnter");
    QTest::newRow("Enter in the line edit") << true;
    QTest::newRow("the Search button") << false;
}

void TestSearchPanel::enterAndButtonSearchAlike()
{
    QFETCH(bool, byEnter);

    SearchWidget panel(&m_runner);
    panel.setBookPath(m_english);
    QSignalSpy nothing(&panel, &SearchWidget::noTopicSearched);
    QTest::keyClicks(panel.queryEdit(), QStringLiteral("nebula"));
    if (byEnter)
        QTest::keyClick(panel.queryEdit(), Qt::Key_Return);
    else
        QTest::mouseClick(panel.searchButton(), Qt::LeftButton);
    QVERIFY(panel.isSearching());   // on a worker: the click returns before the results
    QTRY_VERIFY(!panel.isSearching());

    QCOMPARE(resultsOf(panel), kNebulaResults);
    QCOMPARE(panel.lastQuery(), QStringLiteral("nebula"));
    QCOMPARE(nothing.count(), 0);

    // A second search replaces the results; a new book path leaves them alone.
    panel.queryEdit()->setText(QStringLiteral("zephyr"));
    panel.search();
    QTRY_VERIFY(!panel.isSearching());
    QCOMPARE(resultsOf(panel), QStringList{"Chapter Two|/chapter2.htm"});
    panel.setBookPath(m_dir.filePath(QStringLiteral("other.chm")));
    QCOMPARE(resultsOf(panel), QStringList{"Chapter Two|/chapter2.htm"});
    QCOMPARE(panel.lastQuery(), QStringLiteral("zephyr"));
}

// Without a query or without a book nothing happens: no search, no signal, old results kept.
void TestSearchPanel::nothingToSearch_data()
{
    QTest::addColumn<bool>("withBook");
    QTest::addColumn<QString>("query");
    QTest::newRow("empty query") << true << "";
    QTest::newRow("no book") << false << "nebula";
}

void TestSearchPanel::nothingToSearch()
{
    QFETCH(bool, withBook);
    QFETCH(QString, query);

    SearchWidget panel(&m_runner);
    panel.setBookPath(m_english);
    panel.queryEdit()->setText(QStringLiteral("zephyr"));
    panel.search();
    QTRY_VERIFY(!panel.isSearching());
    QCOMPARE(panel.resultList()->count(), 1);

    panel.setBookPath(withBook ? m_english : QString());
    panel.queryEdit()->setText(query);
    QSignalSpy nothing(&panel, &SearchWidget::noTopicSearched);
    QTest::keyClick(panel.queryEdit(), Qt::Key_Return);
    QTRY_VERIFY(!panel.isSearching());
    panel.searchButton()->click();
    QCOMPARE(nothing.count(), 0);
    QCOMPARE(resultsOf(panel), QStringList{"Chapter Two|/chapter2.htm"});
    QCOMPARE(panel.lastQuery(), QStringLiteral("zephyr"));
}

// A search that finds nothing empties the list and says so once; lastQuery keeps the query
// that last found something, so the page view still marks that one.
void TestSearchPanel::searchFindingNothing_data()
{
    QTest::addColumn<QString>("book");
    QTest::addColumn<QString>("query");
    QTest::newRow("word not in the book") << "english.chm" << "xylophone";
    QTest::newRow("book without an index") << "nocontents.chm" << "nebula";
    QTest::newRow("no such file") << "missing.chm" << "nebula";
}

void TestSearchPanel::searchFindingNothing()
{
    QFETCH(QString, book);
    QFETCH(QString, query);

    SearchWidget panel(&m_runner);
    panel.setBookPath(m_english);
    panel.queryEdit()->setText(QStringLiteral("nebula"));
    panel.search();
    QTRY_VERIFY(!panel.isSearching());
    QCOMPARE(panel.resultList()->count(), 3);

    panel.setBookPath(book == QLatin1String("missing.chm") ? m_dir.filePath(book) : testBookPath(book));
    panel.queryEdit()->setText(query);
    QSignalSpy nothing(&panel, &SearchWidget::noTopicSearched);
    QSignalSpy chosen(&panel, &SearchWidget::currentUrlChanged);
    panel.search();
    QTRY_VERIFY(!panel.isSearching());
    QCOMPARE(nothing.count(), 1);
    QCOMPARE(panel.resultList()->count(), 0);
    QCOMPARE(panel.lastQuery(), QStringLiteral("nebula"));
    QCOMPARE(chosen.count(), 0);
}

// Results are shown sorted by title whatever order the index gives: a topic without a title
// comes first, and two topics with the same title are both listed, each with its path under
// the title so that they can be told apart.
void TestSearchPanel::untitledAndEqualTitles()
{
    const QString retitled = m_dir.filePath(QStringLiteral("retitled.chm"));
    QVERIFY(writeRetitledBook(retitled));

    SearchWidget panel(&m_runner);
    panel.setBookPath(retitled);
    panel.queryEdit()->setText(QStringLiteral("nebula"));
    panel.search();
    QTRY_VERIFY(!panel.isSearching());
    QStringList results = resultsOf(panel);
    QCOMPARE(results.value(0), QStringLiteral("|/intro.htm"));
    std::sort(results.begin() + 1, results.end());   // equal titles come in either order
    QCOMPARE(results, (QStringList{"|/intro.htm", "Welcome\n/index.htm|/index.htm",
                                   "Welcome\n/sub/other.htm|/sub/other.htm"}));
}

void TestSearchPanel::doubleClickSendsPathAndQuery()
{
    SearchWidget panel(&m_runner);
    panel.resize(250, 400);
    panel.setBookPath(m_english);
    panel.queryEdit()->setText(QStringLiteral("Nebula"));   // handed on exactly as typed
    panel.search();
    QTRY_VERIFY(!panel.isSearching());
    QCOMPARE(resultsOf(panel), kNebulaResults);
    panel.queryEdit()->setText(QStringLiteral("typed but not searched"));
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));

    QSignalSpy chosen(&panel, &SearchWidget::currentUrlChanged);
    QListWidget* list = panel.resultList();
    const QPoint second = list->visualItemRect(list->item(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    QCOMPARE(chosen.count(), 0);
    // A double click as the mouse makes it: press, release, double click, release.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, second);
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.at(0).at(0).toString(), QStringLiteral("/intro.htm"));
    QCOMPARE(chosen.at(0).at(1).toString(), QStringLiteral("Nebula"));

    // Enter opens the current result, for the keyboard alone.
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(chosen.count(), 2);
    QCOMPARE(chosen.at(1).at(0).toString(), list->item(0)->data(Qt::UserRole).toString());
}

// A book without an index is searched in the text of its pages, indexed on a worker thread;
// for a book with an index, the "Search page text" check box chooses that, per book.
void TestSearchPanel::pageText()
{
    const QString noIndex = m_dir.filePath(QStringLiteral("noindex.chm"));
    QVERIFY(QFile::copy(testBookPath(QStringLiteral("english-noindex.chm")), noIndex));
    QFile::remove(TextIndex::cacheFile(noIndex));

    for (const bool wait : {false, true}) {
        SearchWidget panel(&m_runner);
        panel.waitCheck()->setChecked(wait);
        panel.setBookPath(noIndex);
        QVERIFY(panel.pageTextCheck()->isChecked());
        QVERIFY(!panel.pageTextCheck()->isEnabled());   // there is nothing else to search
        QVERIFY(panel.searchesPageText());
        panel.queryEdit()->setText(QStringLiteral("miller"));
        panel.search();   // answers from the pages indexed so far, or runs when all are
        QTRY_VERIFY(!panel.isSearching());
        QTRY_VERIFY(panel.pageTextIndexed());
        if (!wait)
            panel.search();
        QTRY_VERIFY(!panel.isSearching());
        QTRY_COMPARE(resultsOf(panel), QStringList{"Chapter One|/chapter1.htm"});
        QTRY_COMPARE(panel.indexLabel()->text(), QStringLiteral("8 pages indexed"));
        QVERIFY(!panel.waitCheck()->isVisible());
    }

    // The book's own index serves until the reader ticks the box; the choice is kept per book.
    const QString english = m_dir.filePath(QStringLiteral("english.chm"));
    QVERIFY(QFile::copy(m_english, english));
    {
        SearchWidget panel(&m_runner);
        panel.setBookPath(english);
        QVERIFY(panel.pageTextCheck()->isEnabled());
        QVERIFY(!panel.pageTextCheck()->isChecked());
        QVERIFY(!panel.searchesPageText());
        panel.pageTextCheck()->click();
        QVERIFY(panel.searchesPageText());
        QTRY_VERIFY(panel.pageTextIndexed());
    }
    {
        SearchWidget panel(&m_runner);
        panel.setBookPath(english);
        QVERIFY(panel.pageTextCheck()->isChecked());
        QVERIFY(panel.searchesPageText());
        panel.setBookPath(m_english);   // another book: its own choice
        QVERIFY(!panel.searchesPageText());
    }
    QVERIFY(QSettings(QStringLiteral("Pagewick"), QStringLiteral("size pos color"))
                .value(SearchWidget::pageTextSettingsKey(english)).toBool());
}

// A task is cancelled when a newer one of the same context takes its slot (a newer search
// supersedes the older one) and when everything is cancelled (the window closes); a cancelled
// task's result is dropped.
void TestSearchPanel::runnerCancels_data()
{
    QTest::addColumn<QString>("slot");      // of the second task; empty: cancelAll instead
    QTest::addColumn<bool>("sameContext");
    QTest::addColumn<bool>("firstCancelled");
    QTest::newRow("a newer search") << "search" << true << true;
    QTest::newRow("another slot") << "probe" << true << false;
    QTest::newRow("another panel's search") << "search" << false << false;
    QTest::newRow("cancel all") << "" << true << true;
}

void TestSearchPanel::runnerCancels()
{
    QFETCH(QString, slot);
    QFETCH(bool, sameContext);
    QFETCH(bool, firstCancelled);

    QObject panel;
    QObject otherPanel;
    std::atomic<bool> started{false};
    std::atomic<bool> ended{false};
    bool firstDelivered = false;
    bool secondDelivered = false;
    const CancelToken first = m_runner.run(
        Lane::Normal, &panel,
        [&](const Task& task) {
            started = true;
            const QDeadlineTimer deadline(10000);
            while (!task.isCancelled() && !deadline.hasExpired())
                QThread::msleep(1);
            ended = true;
            return true;
        },
        [&](bool) { firstDelivered = true; }, QStringLiteral("search"));
    QTRY_VERIFY(started);
    if (slot.isEmpty()) {
        m_runner.cancelAll();
    } else {
        m_runner.run(Lane::Normal, sameContext ? &panel : &otherPanel, [](const Task&) { return true; },
                     [&](bool) { secondDelivered = true; }, slot);
        QTRY_VERIFY(secondDelivered);
    }
    QCOMPARE(first.isCancelled(), firstCancelled);
    first.cancel();
    QTRY_VERIFY(ended);
    QTest::qWait(20);
    QVERIFY(!firstDelivered);
}

// Panel work on the low lane leaves no thread in the idle class, and no thread niced that
// runs any other work: the low lane has threads of its own.
void TestSearchPanel::lanesKeepTheirPriorities()
{
    const QString noIndex = m_dir.filePath(QStringLiteral("lanes.chm"));
    QVERIFY(QFile::copy(testBookPath(QStringLiteral("english-noindex.chm")), noIndex));
    QFile::remove(TextIndex::cacheFile(noIndex));
    {
        SearchWidget panel(&m_runner);
        panel.setBookPath(noIndex, true);   // the probe and the index build: the low lane
        QTRY_VERIFY(panel.pageTextIndexed());
        panel.queryEdit()->setText(QStringLiteral("miller"));
        panel.search();
        QTRY_VERIFY(!panel.isSearching());
    }

    // Where other work runs after it: the normal lane and the shared pool of the process.
    QList<Scheduling> low;
    QList<Scheduling> other;
    const auto own = [] { return schedulingOf(QString::number(gettid())); };
    for (int i = 0; i < 8; ++i) {
        m_runner.run(Lane::Low, this, [&](const Task&) { return own(); }, [&](const Scheduling& s) { low << s; });
        m_runner.run(Lane::Normal, this, [&](const Task&) { return own(); }, [&](const Scheduling& s) { other << s; });
        QThreadPool::globalInstance()->start([&] {
            QMetaObject::invokeMethod(this, [&, s = own()] { other << s; }, Qt::QueuedConnection);
        });
    }
    QTRY_COMPARE(int(low.size() + other.size()), 24);
    // The process may have been started niced as a whole.
    const int base = schedulingOf(QString::number(getpid())).nice;
    for (const Scheduling& thread : std::as_const(low))
        QCOMPARE(thread.nice, std::max(base, int(BackgroundRunner::LowLaneNice)));
    for (const Scheduling& thread : std::as_const(other)) {
        QCOMPARE(thread.nice, base);
        QCOMPARE(thread.policy, SCHED_OTHER);
    }

    const QStringList tids = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QVERIFY(!tids.isEmpty());
    for (const QString& tid : tids)
        QVERIFY2(schedulingOf(tid).policy != SCHED_IDLE, schedulingOf(tid).name.constData());
}

// Each result shows the line around the first match on its page, with every match of a phrase,
// a word or a +word in bold, never a -word; the item's accessible text is its title and that
// line. Japanese text is matched by its characters, as the book's index would.
void TestSearchPanel::snippets_data()
{
    QTest::addColumn<QString>("book");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("snippet");   // as rich text
    QTest::addColumn<QString>("toolTip");   // its second line

    QTest::newRow("phrase") << "english.chm" << "\"quick brown\"" << "/intro.htm"
        << "Introduction The <b>quick brown</b> fox jumps over the lazy dog. A nebula drifts past a quasar far "
           "out in the dark of space.\u2026"
        << "The query's words occur once on this page";
    QTest::newRow("+ and - words") << "english.chm" << "+nebula faint -quasar" << "/sub/other.htm"
        << "\u2026way round. A <b>faint</b> <b>nebula</b> is all that can be seen from the window of this page. "
           "Back to the page beside this one."
        << "The query's words occur 2 times on this page";
    QTest::newRow("Japanese word") << "japanese.chm" << QStringLiteral("表示") << "/index.htm"
        << QStringLiteral("<b>表示</b>の予定 ソフトの<b>表示</b>と構造を十分に説明します。 次は ポイント申請 です。")
        << "The query's words occur 3 times on this page";
    QTest::newRow("phrase across table cells") << "ranking.chm" << "\"storm lantern\"" << "/table.htm"
        << "\u2026oil coal mines <b>Storm lantern</b> with a glass hood ships Carbide lamp acetylene caves Gas "
           "mantle coal gas streets Most of\u2026"
        << "The query's words occur once on this page";
}

void TestSearchPanel::snippets()
{
    QFETCH(QString, book);
    QFETCH(QString, query);
    QFETCH(QString, url);
    QFETCH(QString, snippet);
    QFETCH(QString, toolTip);

    SearchWidget panel(&m_runner);
    panel.setBookPath(testBookPath(book));
    if (panel.searchesPageText())
        QTRY_VERIFY(panel.pageTextIndexed());
    searchAndWaitForSnippets(panel, query);
    const QListWidgetItem* item = itemOf(panel, url);
    QVERIFY(item);
    const SearchSnippet made = item->data(SearchResultDelegate::SnippetRole).value<SearchSnippet>();
    QCOMPARE(made.toHtml(), snippet);
    QCOMPARE(item->data(Qt::AccessibleTextRole).toString(), item->text() + QLatin1Char('\n') + made.text);
    QCOMPARE(item->toolTip().section(QLatin1Char('\n'), 1), toolTip);
}

// A page the index lists but the book cannot give keeps its title alone, in the list and for
// screen readers; the other pages get their lines.
void TestSearchPanel::unreadablePageKeepsItsTitle()
{
    QVector<ChmWriterObject> objects = englishObjects();
    QVERIFY(objects.removeIf([](const ChmWriterObject& o) { return o.path == "/intro.htm"; }) == 1);
    const QString damaged = m_dir.filePath(QStringLiteral("nointro.chm"));
    QVERIFY(writeChmContainer(damaged, objects));

    SearchWidget panel(&m_runner);
    panel.resize(250, 600);   // every result on screen, so every readable one gets its line
    panel.show();
    panel.setBookPath(damaged);
    searchAndWaitForSnippets(panel, QStringLiteral("nebula"));
    QCOMPARE(panel.resultList()->count(), 3);
    for (int row = 0; row < panel.resultList()->count(); ++row) {
        const QListWidgetItem* item = panel.resultList()->item(row);
        const SearchSnippet made = item->data(SearchResultDelegate::SnippetRole).value<SearchSnippet>();
        const bool unreadable = item->data(Qt::UserRole).toString() == QLatin1String("/intro.htm");
        QCOMPARE(made.isEmpty(), unreadable);
        QCOMPARE(item->data(Qt::AccessibleTextRole).toString() == item->text(), unreadable);
    }
}

// Relevance puts the page whose title holds the word first, then the pages by how often it
// occurs for their size; Title sorts by title. Both indexes rank alike, and the choice is kept.
void TestSearchPanel::order_data()
{
    QTest::addColumn<bool>("pageText");
    QTest::addColumn<QString>("order");
    QTest::addColumn<QStringList>("titles");
    const QStringList relevance{"Lantern Care", "Evening Walk", "Harbour Notes", "A Table of Lamps"};
    const QStringList byTitle{"A Table of Lamps", "Evening Walk", "Harbour Notes", "Lantern Care"};
    QTest::newRow("book's index, relevance") << false << "Relevance" << relevance;
    QTest::newRow("book's index, title") << false << "Title" << byTitle;
    QTest::newRow("page text, relevance") << true << "Relevance" << relevance;
    QTest::newRow("page text, title") << true << "Title" << byTitle;
}

void TestSearchPanel::order()
{
    QFETCH(bool, pageText);
    QFETCH(QString, order);
    QFETCH(QStringList, titles);

    const QString ranking = m_dir.filePath(QStringLiteral("ranking.chm"));
    QFile::remove(ranking);
    QVERIFY(QFile::copy(testBookPath(QStringLiteral("ranking.chm")), ranking));
    QSettings settings(QStringLiteral("Pagewick"), QStringLiteral("size pos color"));
    settings.remove(SearchWidget::pageTextSettingsKey(ranking));
    {
        SearchWidget panel(&m_runner);
        panel.setBookPath(ranking);
        QVERIFY(!panel.searchesPageText());
        if (pageText) {
            panel.pageTextCheck()->click();
            QTRY_VERIFY(panel.pageTextIndexed());
        }
        panel.orderBox()->setCurrentIndex(panel.orderBox()->findText(order));
        panel.queryEdit()->setText(QStringLiteral("lantern"));
        panel.search();
        QTRY_VERIFY(!panel.isSearching());
        QCOMPARE(panel.resultsLabel()->text(), QStringLiteral("4 pages"));
        QStringList shown;
        for (int row = 0; row < panel.resultList()->count(); ++row)
            shown << panel.resultList()->item(row)->text();
        QCOMPARE(shown, titles);
    }
    // A new panel, as in the next run, starts with the order chosen.
    SearchWidget next(&m_runner);
    QCOMPARE(next.orderBox()->currentText(), order);
    QCOMPARE(next.order() == SearchWidget::Order::Title, order == QLatin1String("Title"));
    settings.setValue(QLatin1String(SearchWidget::OrderSettingsKey), QStringLiteral("title"));
}

QTEST_MAIN(TestSearchPanel)
#include "tst_search_panel.moc"

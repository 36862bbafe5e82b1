// The keyword index: read from compiled and real books, sorted for display, found by typing,
// and opened by Enter, by a double click and through the chooser of a keyword with several
// targets.

#include "indexwidget.h"
#include "lchmfile.h"
#include "testbooks.h"

#include <QLineEdit>
#include <QListView>
#include <QtTest>

namespace {

// The rows of an index panel as "indent|keyword|targets" lines.
QStringList rowsOf(const KeywordIndexModel& model)
{
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex index = model.index(row);
        rows << QStringLiteral("%1|%2|%3")
                    .arg(index.data(KeywordIndexModel::IndentRole).toInt())
                    .arg(index.data().toString(),
                         index.data(KeywordIndexModel::TargetsRole).toStringList().join(QLatin1Char(',')));
    }
    return rows;
}

struct OwnRunner
{
    BackgroundRunner runner;
};

// An index panel whose chooser answers at once and records what it was offered.
class ProbeIndexWidget : private OwnRunner, public IndexWidget
{
public:
    ProbeIndexWidget() : IndexWidget(&runner) {}
    int answer = -1;
    QVector<QStringList> offered;

    bool load(const QString& path)
    {
        QSignalSpy loaded(this, &IndexWidget::indexLoaded);
        loadBook(path);
        return loaded.wait(10000) && !isLoading();
    }

protected:
    int chooseTarget(const QStringList& titles, const QPoint&) override
    {
        offered.append(titles);
        return answer;
    }
};

} // namespace

class TestIndex : public QObject
{
    Q_OBJECT

private slots:
    void parseIndex_data();
    void parseIndex();
    void sortedForDisplay();
    void typingMoves_data();
    void typingMoves();
    void opening();
};

// The index sitemap is found by its name in the book's metadata, its first Name is the keyword
// even when later Names title the targets, and a book without one reports none.
void TestIndex::parseIndex_data()
{
    QTest::addColumn<QString>("book");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("multiName");  // "keyword|targets" of an entry, or empty

    QTest::newRow("compiled, named in the project")
        << testBookPath("keywords.chm") << 7 << "0|planets|/planets.htm" << "galaxy|/stars.htm,/planets.htm";
    QTest::newRow("compiled, without an index") << testBookPath("english.chm") << 0 << "" << "";
    // Empty when the real books are absent: the test skips those rows.
    QTest::newRow("real, keywords with titled targets")
        << sharedBookPath("filmcollection-ru.chm") << 8 << QString::fromUtf8("0|Кнопки|/Main.htm") << "";
    QTest::newRow("real, keywords with several targets")
        << sharedBookPath("halibut-putty.chm") << 957 << "0|-4|/using-cmdline-ipversion.html"
        << "accented characters|/using-translation.html,/config-compose.html";
}

void TestIndex::parseIndex()
{
    QFETCH(QString, book);
    QFETCH(int, count);
    QFETCH(QString, first);
    QFETCH(QString, multiName);
    if (book.isEmpty())
        QSKIP("real books not available");

    LCHMFile file;
    QVERIFY(file.openBook(book));
    QVector<LCHMParsedEntry> entries;
    QCOMPARE(file.parseIndex(&entries), count > 0);
    QCOMPARE(entries.size(), count);
    if (count == 0)
        return;
    const LCHMParsedEntry& head = entries.constFirst();
    QCOMPARE(QStringLiteral("%1|%2|%3").arg(head.indent).arg(head.name, head.urls.join(QLatin1Char(','))), first);
    if (!multiName.isEmpty()) {
        const QString keyword = multiName.section(QLatin1Char('|'), 0, 0);
        const auto it = std::find_if(entries.cbegin(), entries.cend(),
                                     [&](const LCHMParsedEntry& e) { return e.name == keyword; });
        QVERIFY2(it != entries.cend(), qPrintable(keyword));
        QCOMPARE(it->urls.join(QLatin1Char(',')), multiName.section(QLatin1Char('|'), 1));
    }
}

// Keywords sort without regard to case and carry their sub-keywords along, in the book's order.
void TestIndex::sortedForDisplay()
{
    ProbeIndexWidget panel;
    QVERIFY(panel.load(testBookPath("keywords.chm")));
    QCOMPARE(rowsOf(*panel.model()),
             (QStringList{"0|Andromeda|/stars.htm", "0|galaxy|/stars.htm,/planets.htm", "0|moons|/planets.htm",
                          "0|planets|/planets.htm", "1|inner|/inner.htm", "1|outer|/outer.htm",
                          "0|Pluto|/outer.htm"}));
    QCOMPARE(panel.model()->index(3).data(Qt::UserRole).toString(), QStringLiteral("/planets.htm"));
}

void TestIndex::typingMoves_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("current");

    QTest::newRow("start of a keyword") << "pl" << "planets";
    QTest::newRow("other case") << "GAL" << "galaxy";
    QTest::newRow("longer prefix") << "plu" << "Pluto";
    QTest::newRow("whole keyword") << "moons" << "moons";
    QTest::newRow("between keywords: the next one") << "b" << "galaxy";
    QTest::newRow("sub-keywords are not keywords") << "inner" << "moons";
    QTest::newRow("after every keyword: the last") << "zzz" << "Pluto";
}

void TestIndex::typingMoves()
{
    QFETCH(QString, typed);
    QFETCH(QString, current);

    ProbeIndexWidget panel;
    QVERIFY(panel.load(testBookPath("keywords.chm")));
    QTest::keyClicks(panel.findEdit(), typed);
    QCOMPARE(panel.list()->currentIndex().data().toString(), current);
}

void TestIndex::opening()
{
    ProbeIndexWidget panel;
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QVERIFY(panel.load(testBookPath("keywords.chm")));
    QSignalSpy opened(&panel, &IndexWidget::currentUrlChanged);

    // Enter in the line edit opens the keyword typed to.
    QTest::keyClicks(panel.findEdit(), QStringLiteral("mo"));
    QTest::keyClick(panel.findEdit(), Qt::Key_Return);
    QCOMPARE(opened.size(), 1);
    QCOMPARE(opened.takeFirst().at(0).toString(), QStringLiteral("/planets.htm"));

    // A double click on a sub-keyword opens its own page; a single click only selects.
    QListView* list = panel.list();
    const QRect inner = list->visualRect(panel.model()->index(4));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, inner.center());
    QCOMPARE(opened.size(), 0);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, inner.center());
    QCOMPARE(opened.size(), 1);
    QCOMPARE(opened.takeFirst().at(0).toString(), QStringLiteral("/inner.htm"));

    // A keyword with two targets asks which, by the topics' titles in the book (chmcmd takes
    // them from keywords); a cancelled choice opens nothing.
    QStringList titles;
    {
        LCHMFile book;
        QVERIFY(book.openBook(testBookPath("keywords.chm")));
        titles << book.topicTitleForUrl("/stars.htm") << book.topicTitleForUrl("/planets.htm");
    }
    QVERIFY(!titles.contains(QString()));
    list->setCurrentIndex(panel.model()->index(1));
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(panel.offered, QVector<QStringList>{titles});
    QCOMPARE(opened.size(), 0);
    panel.answer = 1;
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(opened.size(), 1);
    QCOMPARE(opened.takeFirst().at(0).toString(), QStringLiteral("/planets.htm"));
}

QTEST_MAIN(TestIndex)
#include "tst_index.moc"

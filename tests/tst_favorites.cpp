// The bookmarks panel: adding, clearing, stored lists and navigation by click.

#include "favoriteswidget.h"

#include <QContextMenuEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QtTest>

namespace {

// The items as "title|path" lines, checked against the tool tips on the way.
QStringList itemsOf(const FavoritesWidget& panel)
{
    QStringList lines;
    for (int row = 0; row < panel.list()->count(); ++row) {
        const QListWidgetItem* item = panel.list()->item(row);
        if (item->toolTip() != item->text())
            lines << QStringLiteral("tool tip differs: ") + item->toolTip();
        lines << item->text() + QLatin1Char('|') + item->data(Qt::UserRole).toString();
    }
    return lines;
}

// A panel whose context menu records what it offers and picks one entry at once.
class ProbeFavorites : public FavoritesWidget
{
public:
    QString pick;
    QVector<QStringList> offered;

protected:
    void popUpMenu(QMenu* menu, const QPoint&) override
    {
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << action->text();
        offered << texts;
        for (QAction* action : menu->actions()) {
            if (action->text() == pick)
                action->trigger();
        }
    }
};

} // namespace

class TestFavorites : public QObject
{
    Q_OBJECT

private slots:
    void addAndClear();
    void setBookmarks_data();
    void setBookmarks();
    void clicksNavigate();
    void itemMenu();
};

void TestFavorites::addAndClear()
{
    FavoritesWidget panel;
    QCOMPARE(panel.addButton()->text(), QStringLiteral("Add"));
    QCOMPARE(panel.clearButton()->text(), QStringLiteral("ClearAll"));

    // Before any page is reported, "Add" still makes a bookmark, of empty strings.
    panel.addButton()->click();
    QCOMPARE(panel.bookmarks(), (QStringList{"", ""}));
    panel.clearButton()->click();

    panel.setViewURL(QStringLiteral("/intro.htm"));
    panel.setViewTopic(QStringLiteral("Introduction"));
    panel.addButton()->click();
    panel.add();   // the main window's Bookmark action calls the slot directly
    panel.setViewURL(QStringLiteral("about:blank"));
    panel.setViewTopic(QStringLiteral("about:blank"));
    panel.add();
    QCOMPARE(panel.bookmarks(), (QStringList{"Introduction", "/intro.htm", "Introduction", "/intro.htm",
                                             "about:blank", "about:blank"}));
    QCOMPARE(itemsOf(panel), (QStringList{"Introduction|/intro.htm", "Introduction|/intro.htm",
                                          "about:blank|about:blank"}));

    panel.clearButton()->click();
    QVERIFY(panel.bookmarks().isEmpty());
    QCOMPARE(panel.list()->count(), 0);
    panel.clearButton()->click();   // nothing left to clear
    QVERIFY(panel.bookmarks().isEmpty());
    QCOMPARE(panel.list()->count(), 0);

    // Adding after a stored list appends behind it.
    panel.setBookmarks({QStringLiteral("Welcome"), QStringLiteral("/index.htm")});
    panel.add();
    QCOMPARE(panel.bookmarks(), (QStringList{"Welcome", "/index.htm", "about:blank", "about:blank"}));
}

void TestFavorites::setBookmarks_data()
{
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QStringList>("bookmarks");
    QTest::addColumn<QStringList>("items");

    QTest::newRow("empty") << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("two pairs, same title")
        << QStringList{"Chapter", "/a.htm", "Chapter", "/b.htm"}
        << QStringList{"Chapter", "/a.htm", "Chapter", "/b.htm"}
        << QStringList{"Chapter|/a.htm", "Chapter|/b.htm"};
    QTest::newRow("empty strings") << QStringList{"", ""} << QStringList{"", ""} << QStringList{"|"};
    // A damaged record: the last title has no path and is dropped.
    QTest::newRow("odd length") << QStringList{"Welcome", "/index.htm", "Lost"}
                                << QStringList{"Welcome", "/index.htm"} << QStringList{"Welcome|/index.htm"};
    QTest::newRow("a single title") << QStringList{"Lost"} << QStringList{} << QStringList{};
}

void TestFavorites::setBookmarks()
{
    QFETCH(QStringList, stored);
    QFETCH(QStringList, bookmarks);
    QFETCH(QStringList, items);

    FavoritesWidget panel;
    panel.setBookmarks({QStringLiteral("Old"), QStringLiteral("/old.htm")});
    panel.setBookmarks(stored);
    QCOMPARE(panel.bookmarks(), bookmarks);
    QCOMPARE(itemsOf(panel), items);
}

// Every click navigates, even a second click on the same bookmark, and both halves of a
// double click; so does Enter.
void TestFavorites::clicksNavigate()
{
    FavoritesWidget panel;
    panel.setBookmarks({QStringLiteral("Welcome"), QStringLiteral("/index.htm"),
                        QStringLiteral("Leaf"), QStringLiteral("/sub/deep/leaf.htm")});
    panel.resize(250, 300);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));

    QSignalSpy spy(&panel, &FavoritesWidget::currentUrlChanged);
    QListWidget* list = panel.list();
    const QPoint second = list->visualItemRect(list->item(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("/sub/deep/leaf.htm"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    QCOMPARE(spy.count(), 2);

    // A double click as the mouse makes it: press, release, double click, release.
    spy.clear();
    const QPoint first = list->visualItemRect(list->item(0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, first);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, first);
    QVERIFY(spy.count() >= 2);
    for (const QList<QVariant>& args : std::as_const(spy))
        QCOMPARE(args.at(0).toString(), QStringLiteral("/index.htm"));

    // Enter opens the current bookmark, for the keyboard alone.
    spy.clear();
    list->setCurrentRow(1);
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("/sub/deep/leaf.htm"));
}

// The list's context menu renames or deletes the bookmark under the mouse; there is none on
// empty space.
void TestFavorites::itemMenu()
{
    ProbeFavorites panel;
    panel.setBookmarks({"Welcome", "/index.htm", "Leaf", "/leaf.htm", "Last", "/last.htm"});
    panel.resize(250, 300);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QListWidget* list = panel.list();
    const auto rightClick = [list](const QPoint& at) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &event);
    };

    rightClick(QPoint(5, list->viewport()->height() - 5));
    QVERIFY(panel.offered.isEmpty());

    panel.pick = QStringLiteral("Delete");
    rightClick(list->visualItemRect(list->item(1)).center());
    QCOMPARE(panel.offered, (QVector<QStringList>{{"Rename", "Delete"}}));
    QCOMPARE(panel.bookmarks(), (QStringList{"Welcome", "/index.htm", "Last", "/last.htm"}));
    QCOMPARE(itemsOf(panel), (QStringList{"Welcome|/index.htm", "Last|/last.htm"}));

    panel.pick = QStringLiteral("Rename");
    rightClick(list->visualItemRect(list->item(1)).center());
    QLineEdit* editor = list->findChild<QLineEdit*>();
    QVERIFY(editor);
    QCOMPARE(editor->text(), QStringLiteral("Last"));
}

QTEST_MAIN(TestFavorites)
#include "tst_favorites.moc"

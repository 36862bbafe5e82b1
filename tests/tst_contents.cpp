// The contents panel: the tree built from indents, item data and icons, what a click, a double
// click or Enter sends, and how the tree follows the page shown.

#include "contentswidget.h"
#include "lchmfile.h"
#include "testbooks.h"

#include <QMenu>
#include <QPointer>
#include <QAbstractItemModel>
#include <QScrollBar>
#include <QToolTip>
#include <QTreeView>
#include <QtTest>

namespace {

const char* const kIconNames[] = {"icon1", "icon9", "icon11", "icon17", "icon21",
                                  "icon25", "icon27", "iconDefault"};

// Entries named A, B, C, ... with the given indents; entry X leads to "/x.htm".
QVector<LCHMParsedEntry> entriesWithIndents(const QList<int>& indents)
{
    QVector<LCHMParsedEntry> entries;
    for (int i = 0; i < indents.size(); ++i) {
        LCHMParsedEntry e;
        e.name = QString(QChar(u'A' + i));
        e.urls = QStringList{QStringLiteral("/%1.htm").arg(e.name.toLower())};
        e.indent = indents.at(i);
        entries.append(e);
    }
    return entries;
}

// The tree as "A(B(C),D),E": each item's text, its children in parentheses; an item whose
// parent() is not the one it was reached from is marked.
QString shapeOf(const QAbstractItemModel* model, const QModelIndex& parent = {})
{
    QStringList parts;
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex child = model->index(row, 0, parent);
        QString part = child.data().toString();
        if (child.parent() != parent)
            part += QLatin1String("[wrong parent]");
        if (model->hasChildren(child))
            part += QLatin1Char('(') + shapeOf(model, child) + QLatin1Char(')');
        parts << part;
    }
    return parts.join(QLatin1Char(','));
}

QAbstractItemModel* modelOf(const ContentsWidget& panel)
{
    return panel.tree()->model();
}

QIcon iconOf(const QModelIndex& index)
{
    return index.data(Qt::DecorationRole).value<QIcon>();
}

// The contents of the compiled English test book; none when it cannot be read.
QVector<LCHMParsedEntry> englishContents()
{
    LCHMFile book;
    QVector<LCHMParsedEntry> entries;
    if (!book.openBook(testBookPath(QStringLiteral("english.chm"))) || !book.parseContents(&entries))
        entries.clear();
    book.closeBook();
    return entries;
}

QImage imageOf(const QIcon& icon)
{
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestContents : public QObject
{
    Q_OBJECT

private slots:
    void iconResources();
    void treeShape_data();
    void treeShape();
    void itemData_data();
    void itemData();
    void iconByImageNumber_data();
    void iconByImageNumber();
    void newContentsReplaceModel();
    void clicks();
    void enterAndDoubleClick_data();
    void enterAndDoubleClick();
    void bookContents();
    void followsThePage_data();
    void followsThePage();
    void cutEntries_data();
    void cutEntries();
    void chapterCommands_data();
    void chapterCommands();
};

// Every contents icon is compiled in, is 16 by 16, differs from the others, and is drawn
// afresh at twice the size rather than scaled up.
void TestContents::iconResources()
{
    QList<QImage> images;
    for (const char* name : kIconNames) {
        const QString path = QStringLiteral(":/images/%1.svg").arg(QLatin1String(name));
        const QIcon icon(path);
        QVERIFY2(!icon.isNull(), qPrintable(path));
        const QImage image(path);
        QCOMPARE(image.size(), QSize(16, 16));
        QCOMPARE(icon.pixmap(QSize(16, 16), 2.0).size(), QSize(32, 32));
        for (const QImage& other : std::as_const(images))
            QVERIFY2(other != image, qPrintable(path));
        images << image;
    }
}

void TestContents::treeShape_data()
{
    QTest::addColumn<QList<int>>("indents");
    QTest::addColumn<QString>("shape");

    QTest::newRow("down and back up") << QList<int>{0, 1, 2, 1, 0} << "A(B(C),D),E";
    QTest::newRow("jump of three, then two") << QList<int>{0, 3, 2} << "A(B,C)";
    QTest::newRow("equal indents are siblings") << QList<int>{0, 2, 2} << "A(B,C)";
    QTest::newRow("climb out of three levels") << QList<int>{0, 1, 2, 3, 1} << "A(B(C(D)),E)";
    QTest::newRow("new top-level subtree") << QList<int>{0, 1, 2, 0, 1} << "A(B(C)),D(E)";
    QTest::newRow("flat") << QList<int>{0, 0, 0} << "A,B,C";
    QTest::newRow("empty") << QList<int>{} << "";
    // Vectors that do not start at indent 0: what has no parent goes to the top level.
    QTest::newRow("starts deep") << QList<int>{2, 2, 3, 0} << "A,B(C),D";
    QTest::newRow("negative indent") << QList<int>{0, -1, 1} << "A,B(C)";
}

void TestContents::treeShape()
{
    QFETCH(QList<int>, indents);
    QFETCH(QString, shape);

    QVector<LCHMParsedEntry> entries = entriesWithIndents(indents);
    ContentsWidget panel;
    panel.setCurrentContents(&entries);
    QAbstractItemModel* model = modelOf(panel);
    QVERIFY(model);
    QCOMPARE(shapeOf(model), shape);
}

void TestContents::itemData_data()
{
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QString>("stored");

    QTest::newRow("one target") << QStringList{"/dir/page.htm"} << "/dir/page.htm";
    QTest::newRow("no target") << QStringList{} << "";
    QTest::newRow("two targets") << QStringList{"/a.htm", "/a.htm#end"} << "/a.htm|/a.htm#end";
}

void TestContents::itemData()
{
    QFETCH(QStringList, urls);
    QFETCH(QString, stored);

    QVector<LCHMParsedEntry> entries(1);
    entries[0].name = QStringLiteral("Caf\u00e9 & Bar");
    entries[0].urls = urls;
    ContentsWidget panel;
    panel.setCurrentContents(&entries);

    const QModelIndex item = modelOf(panel)->index(0, 0);
    QVERIFY(item.isValid());
    QCOMPARE(item.data().toString(), entries[0].name);
    QCOMPARE(item.data(Qt::ToolTipRole).toString(), entries[0].name);
    QCOMPARE(item.data(Qt::UserRole).toString(), stored);
    QVERIFY(!(item.flags() & Qt::ItemIsEditable));
}

void TestContents::iconByImageNumber_data()
{
    QTest::addColumn<int>("imageNumber");
    QTest::addColumn<QString>("icon");

    QTest::newRow("1, closed book") << 1 << "icon1";
    QTest::newRow("2 has none of its own") << 2 << "iconDefault";
    QTest::newRow("11, page") << 11 << "icon11";
    QTest::newRow("17") << 17 << "icon17";
    QTest::newRow("27") << 27 << "icon27";
    QTest::newRow("41") << 41 << "iconDefault";
    QTest::newRow("0") << 0 << "iconDefault";
    QTest::newRow("none given") << -2 << "iconDefault";
}

void TestContents::iconByImageNumber()
{
    QFETCH(int, imageNumber);
    QFETCH(QString, icon);

    const QString path = QStringLiteral(":/images/%1.svg").arg(icon);
    QCOMPARE(ContentsWidget::iconPathForImageNumber(imageNumber), path);

    QVector<LCHMParsedEntry> entries = entriesWithIndents({0});
    entries[0].imageNumber = imageNumber;
    ContentsWidget panel;
    panel.setCurrentContents(&entries);
    QCOMPARE(imageOf(iconOf(modelOf(panel)->index(0, 0))), imageOf(QIcon(path)));
}

void TestContents::newContentsReplaceModel()
{
    QVector<LCHMParsedEntry> first = entriesWithIndents({0, 1});
    QVector<LCHMParsedEntry> second = entriesWithIndents({0, 0, 0});
    ContentsWidget panel;
    QVERIFY(!panel.tree()->model());

    panel.setCurrentContents(&first);
    QPointer<QAbstractItemModel> oldModel = modelOf(panel);
    panel.tree()->setCurrentIndex(oldModel->index(0, 0));
    emit panel.tree()->clicked(oldModel->index(0, 0));
    QCOMPARE(panel.lastUrl(), QStringLiteral("/a.htm"));

    panel.setCurrentContents(&second);
    QVERIFY(oldModel.isNull());   // replaced models do not pile up
    QCOMPARE(shapeOf(modelOf(panel)), QStringLiteral("A,B,C"));
    QCOMPARE(panel.lastUrl(), QStringLiteral("/a.htm"));

    panel.setCurrentContents(nullptr);
    QCOMPARE(modelOf(panel)->rowCount(), 0);
}

// Real mouse clicks on the shown tree. The panel sends a target only when it differs from the
// one it sent last; it does not know where the page view went in between.
void TestContents::clicks()
{
    QVector<LCHMParsedEntry> entries = entriesWithIndents({0, 0, 0, 0});
    entries[2].urls.clear();                                  // C: no target
    entries[3].urls = QStringList{"/d.htm", "/d.htm#end"};    // D: two targets
    ContentsWidget panel;
    panel.resize(300, 200);
    panel.setCurrentContents(&entries);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));

    QSignalSpy spy(&panel, &ContentsWidget::currentUrlChanged);
    QTreeView* tree = panel.tree();
    // Near the left end of the row: the one column is wider than the panel.
    auto pointOf = [&](int row) {
        const QRect rect = tree->visualRect(tree->model()->index(row, 0));
        return QPoint(rect.left() + 30, rect.center().y());
    };
    auto click = [&](int row) { QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, pointOf(row)); };
    auto sent = [&] {
        QStringList urls;
        for (const QList<QVariant>& args : std::as_const(spy))
            urls << args.at(0).toString();
        return urls;
    };

    click(0);
    QCOMPARE(sent(), QStringList{"/a.htm"});
    // A double click as the mouse makes it: press, release, double click, release.
    click(0);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, pointOf(0));
    QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, pointOf(0));
    QCOMPARE(sent(), QStringList{"/a.htm"});
    click(0);   // the view may have moved on by a link meanwhile: still nothing
    QCOMPARE(sent(), QStringList{"/a.htm"});

    click(2);   // no target
    QCOMPARE(sent(), QStringList{"/a.htm"});
    click(1);
    click(0);
    QCOMPARE(sent(), (QStringList{"/a.htm", "/b.htm", "/a.htm"}));

    // An entry with several targets opens its first; the item still keeps them all.
    click(3);
    QCOMPARE(sent().last(), QStringLiteral("/d.htm"));
    QCOMPARE(panel.lastUrl(), QStringLiteral("/d.htm"));
    QCOMPARE(tree->model()->index(3, 0).data(Qt::UserRole).toString(),
             QStringLiteral("/d.htm|/d.htm#end"));
}

void TestContents::enterAndDoubleClick_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Enter") << "Return";
    QTest::newRow("keypad Enter") << "Enter";
    QTest::newRow("double click") << "double click";
}

// Enter and a double click open an entry as a click does, once; after the page view moved
// elsewhere, the entry opens again.
void TestContents::enterAndDoubleClick()
{
    QFETCH(QString, how);
    QVector<LCHMParsedEntry> entries = entriesWithIndents({0, 0});
    ContentsWidget panel;
    panel.resize(300, 200);
    panel.setCurrentContents(&entries);
    panel.show();
    QVERIFY(QTest::qWaitForWindowActive(&panel));
    QTreeView* tree = panel.tree();
    tree->setFocus();
    QSignalSpy spy(&panel, &ContentsWidget::currentUrlChanged);
    auto open = [&](int row) {
        const QModelIndex index = tree->model()->index(row, 0);
        tree->setCurrentIndex(index);
        const QPoint point(tree->visualRect(index).left() + 30, tree->visualRect(index).center().y());
        if (how == QLatin1String("double click")) {
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, point);
            QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, point);
            QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, point);
        } else {
            QTest::keyClick(tree, how == QLatin1String("Enter") ? Qt::Key_Enter : Qt::Key_Return);
        }
    };

    open(1);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.constLast().at(0).toString(), QStringLiteral("/b.htm"));
    open(1);
    QCOMPARE(spy.size(), 1);
    panel.showPage(QStringLiteral("/elsewhere.htm"));
    open(1);
    QCOMPARE(spy.size(), 2);
    QCOMPARE(spy.constLast().at(0).toString(), QStringLiteral("/b.htm"));
}

// The contents of a compiled book, as the main window hands them over.
void TestContents::bookContents()
{
    QVector<LCHMParsedEntry> entries = englishContents();
    QVERIFY(!entries.isEmpty());

    ContentsWidget panel;
    panel.setCurrentContents(&entries);
    QAbstractItemModel* model = modelOf(panel);
    QCOMPARE(shapeOf(model),
             QStringLiteral("Welcome,Getting Started(Introduction(The Part That Matters),Caf\u00e9 & Bar),"
                            "Chapters(Chapter One(A Page in a Folder(Another Page in the Folder,Deep Leaf)),"
                            "Chapter Two),Appendix(Leaf Again)"));
    const QModelIndex gettingStarted = model->index(1, 0);
    QCOMPARE(gettingStarted.data(Qt::UserRole).toString(), QString());
    QCOMPARE(imageOf(iconOf(gettingStarted)), imageOf(QIcon(QStringLiteral(":/images/icon1.svg"))));
    QCOMPARE(model->index(0, 0, gettingStarted).data(Qt::UserRole).toString(), QStringLiteral("/intro.htm"));
}

void TestContents::followsThePage_data()
{
    QTest::addColumn<QString>("openedFirst");   // the entry the reader opened before, if any
    QTest::addColumn<QString>("path");          // the page shown, as the view reports it
    QTest::addColumn<QString>("selected");      // the entry selected then, if any
    QTest::newRow("entry in a folder") << "" << "/sub/page.htm" << "A Page in a Folder";
    QTest::newRow("deep, first of two") << "" << "/sub/deep/leaf.htm" << "Deep Leaf";
    QTest::newRow("same fragment") << "" << "/intro.htm#part" << "The Part That Matters";
    QTest::newRow("fragment no entry has") << "" << "/intro.htm#nowhere" << "Introduction";
    QTest::newRow("no fragment") << "" << "/intro.htm" << "Introduction";
    QTest::newRow("a second target") << "" << "/chapter2.htm#end" << "Chapter Two";
    QTest::newRow("case, escapes and steps") << "" << "/SUB/./Page.ht%6D" << "A Page in a Folder";
    QTest::newRow("the entry opened stays") << "Chapter One" << "/chapter1.htm" << "Chapter One";
    QTest::newRow("another entry of the page") << "Leaf Again" << "/sub/page.htm" << "A Page in a Folder";
    QTest::newRow("no entry") << "Introduction" << "/nowhere.htm" << "";
    QTest::newRow("not a book page") << "Introduction" << "about:blank" << "";
}

// The tree follows the page the view shows: the page's entry selected and the branches above it
// open, and nothing asked of the view. Clicking that entry then asks for nothing; any other does.
void TestContents::followsThePage()
{
    QFETCH(QString, openedFirst);
    QFETCH(QString, path);
    QFETCH(QString, selected);
    QVector<LCHMParsedEntry> entries = englishContents();
    QVERIFY(!entries.isEmpty());
    ContentsWidget panel;
    panel.setCurrentContents(&entries);
    QTreeView* tree = panel.tree();
    auto entry = [tree](const QString& name) {
        const QModelIndexList found = tree->model()->match(tree->model()->index(0, 0), Qt::DisplayRole, name, 1,
                                                           Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? QModelIndex() : found.first();
    };
    if (!openedFirst.isEmpty()) {
        tree->setCurrentIndex(entry(openedFirst));
        emit tree->clicked(entry(openedFirst));
    }

    QSignalSpy spy(&panel, &ContentsWidget::currentUrlChanged);
    panel.showPage(path);
    QCOMPARE(spy.size(), 0);
    const QModelIndexList selection = tree->selectionModel()->selectedIndexes();
    if (selected.isEmpty()) {
        QVERIFY(selection.isEmpty());
    } else {
        QVERIFY(entry(selected).isValid());
        QCOMPARE(selection, QModelIndexList{entry(selected)});
        QCOMPARE(tree->currentIndex(), entry(selected));
        for (QModelIndex parent = entry(selected).parent(); parent.isValid(); parent = parent.parent())
            QVERIFY2(tree->isExpanded(parent), qPrintable(parent.data().toString()));
        emit tree->clicked(entry(selected));
        QCOMPARE(spy.size(), 0);
    }
    // Opening the entry opened before works again, unless it is the page shown.
    if (!openedFirst.isEmpty() && openedFirst != selected) {
        emit tree->clicked(entry(openedFirst));
        QCOMPARE(spy.size(), 1);
    }
}


void TestContents::cutEntries_data()
{
    QTest::addColumn<int>("depth");     // the followed entry's level
    QTest::addColumn<bool>("longText"); // its text is wider than the narrow panel

    QTest::newRow("short, at the top") << 0 << false;
    QTest::newRow("long, at the top") << 0 << true;
    QTest::newRow("short, deep") << 14 << false;
    QTest::newRow("long, deep") << 14 << true;
}

// A followed entry is brought into the narrow panel sideways: whole when it fits, else from its
// start. Its tool tip, the whole text, shows only while the text is cut.
void TestContents::cutEntries()
{
    QFETCH(int, depth);
    QFETCH(bool, longText);

    QList<int> indents;
    for (int level = 0; level <= depth; ++level)
        indents << level;
    QVector<LCHMParsedEntry> entries = entriesWithIndents(indents);
    const QString text = longText ? QStringLiteral("Alphabetical Classes and Objects of the Runtime Library, with Notes")
                              : QStringLiteral("Short");
    entries.last().name = text;
    ContentsWidget panel;
    panel.resize(200, 300);
    panel.setCurrentContents(&entries);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));

    QTreeView* tree = panel.tree();
    panel.showPage(entries.last().urls.first());
    const QModelIndex followed = tree->currentIndex();
    QCOMPARE(followed.data().toString(), text);
    const QRect rect = tree->visualRect(followed);
    const int width = tree->sizeHintForIndex(followed).width();
    const int viewport = tree->viewport()->width();
    QVERIFY2(rect.left() >= 0 && rect.left() < viewport, qPrintable(QString::number(rect.left())));
    if (!longText)
        QVERIFY2(rect.left() + width <= viewport, "a short entry is shown whole");
    else if (depth > 0)
        QVERIFY2(rect.left() <= tree->indentation(), "a long entry is shown from its start");
    QCOMPARE(tree->horizontalScrollBar()->value() > 0, depth > 0);

    QToolTip::hideText();
    const QPoint over(rect.left() + 4, rect.center().y());
    QHelpEvent help(QEvent::ToolTip, over, tree->viewport()->mapToGlobal(over));
    QApplication::sendEvent(tree->viewport(), &help);
    QCOMPARE(QToolTip::isVisible(), longText);
    if (longText)
        QCOMPARE(QToolTip::text(), text);
    QToolTip::hideText();
}

void TestContents::chapterCommands_data()
{
    QTest::addColumn<QStringList>("urls");      // of the entry right-clicked
    QTest::addColumn<bool>("onEntry");          // else below the entries
    QTest::addColumn<int>("chapter");           // what the chapter commands send; -1: disabled

    QTest::newRow("a page") << QStringList{"/sub/b.htm"} << true << 1;
    QTest::newRow("a heading without a page") << QStringList() << true << 1;
    QTest::newRow("below the entries") << QStringList{"/b.htm"} << false << -1;
}

// The tree's context menu asks the window for a chapter (the entry's page) or the whole book.
void TestContents::chapterCommands()
{
    QFETCH(QStringList, urls);
    QFETCH(bool, onEntry);
    QFETCH(int, chapter);
    QVector<LCHMParsedEntry> entries = entriesWithIndents({0, 0, 1});
    entries[1].urls = urls;
    ContentsWidget panel;
    panel.resize(300, 200);
    panel.setCurrentContents(&entries);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QSignalSpy printChapter(&panel, &ContentsWidget::printChapterRequested);
    QSignalSpy previewChapter(&panel, &ContentsWidget::previewChapterRequested);
    QSignalSpy exportChapter(&panel, &ContentsWidget::exportChapterRequested);
    QSignalSpy printBook(&panel, &ContentsWidget::printBookRequested);
    QSignalSpy exportBook(&panel, &ContentsWidget::exportBookRequested);

    QTreeView* tree = panel.tree();
    const QRect rect = tree->visualRect(tree->model()->index(1, 0));
    emit tree->customContextMenuRequested(onEntry ? QPoint(rect.left() + 30, rect.center().y()) : QPoint(30, 190));
    QMenu* menu = panel.findChild<QMenu*>();
    QVERIFY(menu);
    QStringList texts;
    QList<QAction*> commands;
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator()) {
            texts << action->text();
            commands << action;
        }
    }
    QCOMPARE(texts, (QStringList{"Print This Chapter\u2026", "Print Preview of This Chapter\u2026",
                                 "Export This Chapter as PDF\u2026", "Print Whole Book\u2026", "Export Book as PDF\u2026"}));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(commands.at(i)->isEnabled(), chapter >= 0);
    for (QAction* command : std::as_const(commands))
        command->trigger();
    for (QSignalSpy* spy : {&printChapter, &previewChapter, &exportChapter}) {
        QCOMPARE(spy->size(), chapter >= 0 ? 1 : 0);
        if (chapter >= 0)
            QCOMPARE(spy->at(0).at(0).toInt(), chapter);
    }
    QCOMPARE(printBook.size(), 1);
    QCOMPARE(exportBook.size(), 1);
    menu->close();
}

QTEST_MAIN(TestContents)
#include "tst_contents.moc"

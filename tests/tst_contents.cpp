// The contents panel: the tree built from indents, item data and icons, and what a click sends.

#include "contentswidget.h"
#include "lchmfile.h"
#include "testbooks.h"

#include <QPointer>
#include <QStandardItemModel>
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

// The tree as "A(B(C),D),E": each item's text, its children in parentheses.
QString shapeOf(const QStandardItem* parent)
{
    QStringList parts;
    for (int row = 0; row < parent->rowCount(); ++row) {
        const QStandardItem* child = parent->child(row);
        QString part = child->text();
        if (child->hasChildren())
            part += QLatin1Char('(') + shapeOf(child) + QLatin1Char(')');
        parts << part;
    }
    return parts.join(QLatin1Char(','));
}

QStandardItemModel* modelOf(const ContentsWidget& panel)
{
    return qobject_cast<QStandardItemModel*>(panel.tree()->model());
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
    void bookContents();
};

// Every contents icon is compiled in, is 16 by 16 and differs from the others.
void TestContents::iconResources()
{
    QList<QImage> images;
    for (const char* name : kIconNames) {
        const QString path = QStringLiteral(":/images/%1.png").arg(QLatin1String(name));
        const QIcon icon(path);
        QVERIFY2(!icon.isNull(), qPrintable(path));
        const QImage image(path);
        QCOMPARE(image.size(), QSize(16, 16));
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
    QStandardItemModel* model = modelOf(panel);
    QVERIFY(model);
    QCOMPARE(shapeOf(model->invisibleRootItem()), shape);
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

    const QStandardItem* item = modelOf(panel)->item(0);
    QVERIFY(item);
    QCOMPARE(item->text(), entries[0].name);
    QCOMPARE(item->toolTip(), entries[0].name);
    QCOMPARE(item->data(Qt::UserRole).toString(), stored);
    QVERIFY(!item->isEditable());
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

    const QString path = QStringLiteral(":/images/%1.png").arg(icon);
    QCOMPARE(ContentsWidget::iconPathForImageNumber(imageNumber), path);

    QVector<LCHMParsedEntry> entries = entriesWithIndents({0});
    entries[0].imageNumber = imageNumber;
    ContentsWidget panel;
    panel.setCurrentContents(&entries);
    QCOMPARE(imageOf(modelOf(panel)->item(0)->icon()), imageOf(QIcon(path)));
}

void TestContents::newContentsReplaceModel()
{
    QVector<LCHMParsedEntry> first = entriesWithIndents({0, 1});
    QVector<LCHMParsedEntry> second = entriesWithIndents({0, 0, 0});
    ContentsWidget panel;
    QVERIFY(!panel.tree()->model());

    panel.setCurrentContents(&first);
    QPointer<QStandardItemModel> oldModel = modelOf(panel);
    panel.tree()->setCurrentIndex(oldModel->index(0, 0));
    emit panel.tree()->clicked(oldModel->index(0, 0));
    QCOMPARE(panel.lastUrl(), QStringLiteral("/a.htm"));

    panel.setCurrentContents(&second);
    QVERIFY(oldModel.isNull());   // replaced models do not pile up
    QCOMPARE(shapeOf(modelOf(panel)->invisibleRootItem()), QStringLiteral("A,B,C"));
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

// The contents of a compiled book, as the main window hands them over.
void TestContents::bookContents()
{
    LCHMFile book;
    QVERIFY(book.openBook(testBookPath(QStringLiteral("english.chm"))));
    QVector<LCHMParsedEntry> entries;
    QVERIFY(book.parseContents(&entries));
    book.closeBook();

    ContentsWidget panel;
    panel.setCurrentContents(&entries);
    QStandardItemModel* model = modelOf(panel);
    QCOMPARE(shapeOf(model->invisibleRootItem()),
             QStringLiteral("Welcome,Getting Started(Introduction(The Part That Matters),Caf\u00e9 & Bar),"
                            "Chapters(Chapter One(A Page in a Folder(Another Page in the Folder,Deep Leaf)),"
                            "Chapter Two),Appendix(Leaf Again)"));
    const QStandardItem* gettingStarted = model->item(1);
    QCOMPARE(gettingStarted->data(Qt::UserRole).toString(), QString());
    QCOMPARE(imageOf(gettingStarted->icon()), imageOf(QIcon(QStringLiteral(":/images/icon1.png"))));
    QCOMPARE(gettingStarted->child(0)->data(Qt::UserRole).toString(), QStringLiteral("/intro.htm"));
}

QTEST_MAIN(TestContents)
#include "tst_contents.moc"

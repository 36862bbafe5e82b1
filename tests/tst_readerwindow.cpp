// What the main window offers beyond the open book: the Index tab, other books and the user
// guide opened in new processes (by Open, its recent books, Help, F1 and a drop), and bookmarks
// renamed and deleted, saved into the book.
//
// No process is started: the window's process hook records the command instead. Settings live
// in a temporary folder, and books are copied before a window opens them.

#include "browserengine.h"
#include "contentswidget.h"
#include "favoriteswidget.h"
#include "indexwidget.h"
#include "mainwindow.h"
#include "testbooks.h"
#include "userdata.h"
#include "viewwidget.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QSettings>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString settingsDirPath()
{
    static QTemporaryDir dir;
    return dir.path();
}

// A main window that starts no process and shows no dialog.
class ProbeWindow : public MainWindow
{
public:
    QString nextBookFile;            // the file dialog's answer
    QVector<QStringList> started;    // program, then arguments, of each process started
    QStringList messages;
    int dragsSeen = 0;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        ++dragsSeen;
        MainWindow::dragEnterEvent(event);
    }
    void showMessage(QMessageBox::Icon, const QString&, const QString& text, const QString&) override { messages.append(text); }
    void popUpMenu(QMenu*, const QPoint&) override {}
    QString chooseBookFile() override { return nextBookFile; }
    bool startProcess(const QString& program, const QStringList& arguments) override
    {
        started.append(QStringList{program} + arguments);
        return true;
    }
};

} // namespace

class TestReaderWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void indexTab_data();
    void indexTab();
    void openStartsAReader();
    void helpStartsTheGuide();
    void dropStartsReaders();
    void recentBooks();
    void bookmarksRenamedAndDeleted();

private:
    QString copyBook(const QString& source, const QString& name = QString());
    static QStringList tabTitles(const MainWindow& w)
    {
        QStringList titles;
        for (int i = 0; i < w.panelTabs->count(); ++i)
            titles << w.panelTabs->tabText(i);
        return titles;
    }
    // The recent books the Open menu offers, by their full paths, then its last entries.
    static QStringList openMenuEntries(MainWindow& w)
    {
        w.fillOpenMenu(w.openMenu);
        QStringList entries;
        for (QAction* action : w.openMenu->actions()) {
            if (!action->isSeparator())
                entries << (action->data().isValid() ? action->data().toString() : action->text());
        }
        return entries;
    }

    QTemporaryDir m_books;
    int m_copies = 0;
};

QString TestReaderWindow::copyBook(const QString& source, const QString& name)
{
    const QString target = m_books.filePath(QStringLiteral("%1/%2").arg(++m_copies).arg(
        name.isEmpty() ? QFileInfo(source).fileName() : name));
    QDir().mkpath(QFileInfo(target).path());
    return QFile::copy(source, target) ? target : QString();
}

void TestReaderWindow::init()
{
    QSettings(QStringLiteral("Pagewick"), QStringLiteral("size pos color")).clear();
}

// ---------------------------------------------------------------------------------------------

void TestReaderWindow::indexTab_data()
{
    QTest::addColumn<QString>("book");
    QTest::addColumn<bool>("index");

    QTest::newRow("keyword index") << testBookPath("keywords.chm") << true;
    QTest::newRow("no keyword index") << testBookPath("english.chm") << false;
    // Empty when the real books are absent: the test skips those rows.
    QTest::newRow("keyword index without keywords") << sharedBookPath("supertexttoolbox-zh.chm") << false;
    QTest::newRow("real keyword index") << sharedBookPath("halibut-putty.chm") << true;
}

// The Index tab comes after Bookmarks once the index is read, and only when it holds keywords;
// a keyword chosen there is shown by the view.
void TestReaderWindow::indexTab()
{
    QFETCH(QString, book);
    QFETCH(bool, index);
    if (book.isEmpty())
        QSKIP("real books not available");

    ProbeWindow w;
    QSignalSpy loaded(w.indexWidget, &IndexWidget::indexLoaded);
    w.loadBook(copyBook(book));
    const QStringList before = tabTitles(w);
    QVERIFY(loaded.wait(10000));
    QCOMPARE(tabTitles(w), index ? before + QStringList{"Index"} : before);
    QVERIFY(tabTitles(w).indexOf(QStringLiteral("Bookmarks")) < w.panelTabs->indexOf(w.indexWidget) || !index);
    if (!index) {
        QVERIFY(w.indexWidget->isHidden());
        return;
    }
    QCOMPARE(w.panelTabs->currentWidget(), w.contentsWidget);
    if (!book.endsWith(QLatin1String("keywords.chm")))
        return;
    // No full-text index, so Search is the reader's own text index.
    QCOMPARE(tabTitles(w), (QStringList{"Contents", "Search", "Bookmarks", "Index"}));
    QSignalSpy shown(w.view, &ViewWidget::urlToFavorites);
    emit w.indexWidget->currentUrlChanged(QStringLiteral("/outer.htm"));
    QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty() && shown.last().at(0).toString() == QLatin1String("/outer.htm"), 30000);
}

// Open asks for a book and starts this program on it, with its absolute path; a cancelled
// dialog starts nothing. The window keeps its own book.
void TestReaderWindow::openStartsAReader()
{
    ProbeWindow w;
    const QString book = copyBook(testBookPath("english.chm"));
    w.nextBookFile = QString();
    w.openAction->trigger();
    QVERIFY(w.started.isEmpty());

    const QString cwd = QDir::currentPath();
    QDir::setCurrent(QFileInfo(book).path());
    w.nextBookFile = QFileInfo(book).fileName();
    w.openAction->trigger();
    QDir::setCurrent(cwd);
    QCOMPARE(w.started, (QVector<QStringList>{{QCoreApplication::applicationFilePath(), book}}));
    QVERIFY(w.messages.isEmpty());
}

// Help and F1 start this program on the user guide, found as at start-up: Help.chm in the
// current folder. Without one the reader says so and starts nothing.
void TestReaderWindow::helpStartsTheGuide()
{
    ProbeWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QApplication::setActiveWindow(&w);

    const QString cwd = QDir::currentPath();
    QTemporaryDir folder;
    QVERIFY(QDir::setCurrent(folder.path()));
    w.helpAction->trigger();
    QVERIFY(w.started.isEmpty());
    QCOMPARE(w.messages.size(), 1);

    const QString guide = folder.filePath(QStringLiteral("Help.chm"));
    QVERIFY(QFile::copy(testBookPath("english.chm"), guide));
    w.helpAction->trigger();
    QTest::keyClick(&w, Qt::Key_F1);
    QDir::setCurrent(cwd);
    const QStringList command{QCoreApplication::applicationFilePath(), guide};
    QCOMPARE(w.started, (QVector<QStringList>{command, command}));
}

// Books dropped on the window each start a reader; other files are refused.
void TestReaderWindow::dropStartsReaders()
{
    ProbeWindow w;
    const QString book = copyBook(testBookPath("english.chm"), QStringLiteral("Dropped Book.CHM"));
    const QString text = m_books.filePath(QStringLiteral("notes.txt"));

    const auto drag = [&w](const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &drop);
        return true;
    };
    QVERIFY(!drag({QUrl::fromLocalFile(text), QUrl(QStringLiteral("https://example.org/a.chm"))}));
    QVERIFY(w.started.isEmpty());
    QVERIFY(drag({QUrl::fromLocalFile(text), QUrl::fromLocalFile(book)}));
    QCOMPARE(w.started, (QVector<QStringList>{{QCoreApplication::applicationFilePath(), book}}));

    // Over the page the web view's widgets, which take drops of their own, pass a dragged
    // file on to the window.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWidget* page = nullptr;
    QVERIFY(QTest::qWaitFor([&] {
        for (QWidget* child : w.view->findChildren<QWidget*>()) {
            if (child->acceptDrops() && child->findChildren<QWidget*>().isEmpty())
                page = child;
        }
        return page != nullptr;
    }, 10000));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(book)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(page, &enter);
    QVERIFY(enter.isAccepted());
    QCOMPARE(w.dragsSeen, 3);
}

// The last ten books, newest first and each once, kept across runs; the Open menu offers them
// and starts a reader on the one chosen.
void TestReaderWindow::recentBooks()
{
    QStringList books;
    for (int i = 0; i < 12; ++i)
        books << copyBook(testBookPath("english.chm"), QStringLiteral("book%1.chm").arg(i));
    {
        ProbeWindow w;
        for (const QString& book : std::as_const(books)) {
            w.nextBookFile = book;
            w.openBook();
        }
        w.nextBookFile = books.at(5);  // opened again: moves to the front
        w.openBook();
        QVERIFY(w.close());
    }
    QStringList expected{books.at(5)};
    for (int i = 11; expected.size() < 10; --i) {
        if (i != 5)
            expected << books.at(i);
    }

    // The next run, like a window started for one of them, reads the same list.
    ProbeWindow next;
    QCOMPARE(openMenuEntries(next), expected + QStringList({"Choose a book...", "Open Books Where I Left Them"}));
    next.openMenu->actions().at(1)->trigger();
    QCOMPARE(next.started, (QVector<QStringList>{{QCoreApplication::applicationFilePath(), expected.at(1)}}));

    // Loading a book in a window counts as opening it.
    next.loadBook(books.at(0));
    QCOMPARE(openMenuEntries(next).mid(0, 2), (QStringList{books.at(0), expected.at(1)}));
}

// A bookmark renamed in place and another deleted are saved into the book on close and read
// back by the next window.
void TestReaderWindow::bookmarksRenamedAndDeleted()
{
    const QString path = copyBook(testBookPath("english.chm"));
    {
        ProbeWindow w;
        w.loadBook(path);
        w.show();
        w.panelTabs->setCurrentWidget(w.favoritesWidget);
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.favoritesWidget->setBookmarks({"Welcome", "/index.htm", "Intro", "/intro.htm", "Chapter", "/chapter1.htm"});
        QListWidget* list = w.favoritesWidget->list();
        w.favoritesWidget->renameItem(list->item(2));
        QLineEdit* editor = list->findChild<QLineEdit*>();
        QVERIFY(editor);
        editor->setText(QStringLiteral("  Chapter One  "));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(list->item(2)->toolTip(), QStringLiteral("Chapter One"));
        w.favoritesWidget->deleteItem(list->item(1));
        // An emptied title keeps the old one.
        list->item(0)->setText(QString());
        QCOMPARE(list->item(0)->text(), QStringLiteral("Welcome"));
        QVERIFY(w.close());
    }
    ProbeWindow again;
    again.loadBook(path);
    const QStringList expected{"Welcome", "/index.htm", "Chapter One", "/chapter1.htm"};
    QCOMPARE(again.favoritesWidget->bookmarks(), expected);
    QCOMPARE(again.favoritesWidget->list()->count(), 2);
    QCOMPARE(again.favoritesWidget->list()->item(1)->text(), QStringLiteral("Chapter One"));
}

int main(int argc, char** argv)
{
    prepareBrowserControl();
    QApplication app(argc, argv);
    // Never the reader's own settings.
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDirPath());
    TestReaderWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_readerwindow.moc"

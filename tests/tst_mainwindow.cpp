// The main window, driven offscreen: actions, tool bar, context menu and dock; opening books of
// every kind; full screen, bookmarking, the page commands greyed by the view; settings.
//
// Dialogs never block: the window's message, colour and menu hooks are replaced by recorders,
// and a watchdog closes any other modal box that appears. Books are copied into a temporary
// folder first, since closing a window writes into its book.

#include "browserengine.h"
#include "chmwriter.h"
#include "commandline.h"
#include "contentswidget.h"
#include "favoriteswidget.h"
#include "findbar.h"
#include "indexwidget.h"
#include "indexwriter.h"
#include "mainwindow.h"
#include "searchwidget.h"
#include "lchmfile.h"
#include "testbooks.h"
#include "userdata.h"
#include "viewwidget.h"
#include "windowgeometry.h"
#include "appearance.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDBusVariant>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPdfDocument>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTabBar>
#include <QDockWidget>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QScreen>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

#include <functional>
#include <optional>
#include <sys/mount.h>
#include <unistd.h>

namespace {

constexpr int kLoadTimeoutMs = 30000;

QString settingsDirPath()
{
    static QTemporaryDir dir;
    return dir.path();
}

void clearSettings()
{
    QSettings(QStringLiteral("Pagewick"), QStringLiteral("size pos color")).clear();
}

QVariant storedSetting(const char* key)
{
    QSettings settings(QStringLiteral("Pagewick"), QStringLiteral("size pos color"));
    return settings.value(QStringLiteral("MainWindow/") + QLatin1String(key));
}

// A main window whose dialogs answer at once and are recorded.
class ProbeWindow : public MainWindow
{
public:
    ProbeWindow()
    {
        connect(pageView(), &ViewWidget::canNote, this, [this] { ++loadsDone; });
    }
    // The view starts on a blank page; tests that play the view's part wait for that load, so
    // that it cannot answer after them.
    bool waitForFirstLoad()
    {
        return QTest::qWaitFor([this] { return loadsDone > 0; }, kLoadTimeoutMs);
    }

    int loadsDone = 0;
    struct Message
    {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        QString detail;
    };
    QVector<Message> messages;
    QColor nextColor;                       // the colour dialog's answer
    QVector<QColor> colorDialogStarts;      // the colour each dialog started on
    QVector<QList<QAction*>> menus;         // each menu shown; nullptr stands for a separator

protected:
    void showMessage(QMessageBox::Icon icon, const QString& title, const QString& text,
                     const QString& detail) override
    {
        messages.append({icon, title, text, detail});
    }
    QMessageBox::StandardButton askReader(QMessageBox::Icon icon, const QString& title, const QString& text,
                                          const Choices& choices) override
    {
        questions.append({icon, title, text, QString()});
        questionChoices.append(choices);
        if (beforeAnswer)
            beforeAnswer();
        return answers.isEmpty() ? QMessageBox::Cancel : answers.takeFirst();
    }

public:
    QVector<Message> questions;             // each question asked, with its choices
    QVector<Choices> questionChoices;
    QList<QMessageBox::StandardButton> answers;   // the reader's answers, in turn; then Cancel
    std::function<void()> beforeAnswer;
    QColor chooseColor(const QColor& initial) override
    {
        colorDialogStarts.append(initial);
        return nextColor;
    }
    void popUpMenu(QMenu* menu, const QPoint&) override
    {
        QList<QAction*> shown;
        for (QAction* action : menu->actions())
            shown.append(action->isSeparator() ? nullptr : action);
        menus.append(shown);
    }
};

// The entry of the menu bar named entry in menu (texts without their "&").
QAction* menuEntryNamed(const QMainWindow& w, const QString& menu, const QString& entry)
{
    const auto plain = [](QString text) { return text.remove(QLatin1Char('&')); };
    for (const QAction* title : w.menuBar()->actions()) {
        for (QAction* action : title->menu() && plain(title->text()) == menu ? title->menu()->actions() : QList<QAction*>()) {
            if (plain(action->text()) == entry)
                return action;
        }
    }
    return nullptr;
}

QList<QAction*> withSeparators(const QList<QAction*>& actions)
{
    QList<QAction*> out;
    for (QAction* action : actions)
        out.append(action->isSeparator() ? nullptr : action);
    return out;
}

// Closes modal boxes nobody answers (a box of the page view, for instance) and keeps their text.
class ModalWatchdog : public QObject
{
public:
    ModalWatchdog()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                if (auto* box = qobject_cast<QMessageBox*>(modal))
                    texts.append(box->text());
                modal->close();
            }
        });
        m_timer.start(50);
    }
    QStringList texts;

private:
    QTimer m_timer;
};

// True when icon is drawn from the SVG at path at the scale factors of today's screens.
bool sharpAtEveryScale(const QIcon& icon, const QString& path)
{
    for (const qreal scale : {1.0, 1.25, 1.5, 2.0}) {
        const QImage shown = icon.pixmap(QSize(16, 16), scale).toImage().convertToFormat(QImage::Format_ARGB32);
        QImageReader reader(path);
        reader.setScaledSize(QSize(16, 16) * scale);
        const QImage drawn = reader.read().convertToFormat(QImage::Format_ARGB32);
        if (drawn.isNull() || shown.size() != drawn.size() || shown != drawn) {
            qWarning("%s at scale %g: shown %dx%d, drawn %dx%d", qPrintable(path), scale, shown.width(),
                     shown.height(), drawn.width(), drawn.height());
            return false;
        }
    }
    return true;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void actions_data();
    void actions();
    void themeIcons();
    void toolBarAndDock();
    void contextMenu();

    void loadBook_data();
    void loadBook();
    // The same books read on a worker while the window starts, as the program does.
    void loadBookStaged_data() { loadBook_data(); }
    void loadBookStaged() { checkLoadBook(true); }
    void missingBook();
    void panelsReachTheView();
    void contentsFollowThePage();
    void everyControlNamed();

    void fullScreen();
    void pageCommandsFollowTheView();
    void bookmarkWithDockHidden();

    void userDataCycle();
    void unreadableRecordKept_data();
    void unreadableRecordKept();
    void failedSave_data();
    void failedSave();

    void settingsFirstRun();
    void lastPlace_data();
    void lastPlace();
    void lastPlacesKeepTheNewest();
    void copyLinkRoundTrip();
    void noteColorKept();
    void pageColors_data();
    void pageColors();
    void geometryOnlyWhenNormal_data();
    void geometryOnlyWhenNormal();

    void menuBar_data();
    void menuBar();
    void menuKeys_data();
    void menuKeys();
    void dockWidensAndIsRemembered();
    void toolBarAndMenuBarChoicesKept();
    void windowGeometry_data();
    void windowGeometry();
    void paletteFollowsTheDesktop_data();
    void paletteFollowsTheDesktop();
    void chapterPreview();

private:
    QString copyBook(const QString& source, const QString& name = QString());
    // Waits until the view reports that it shows path; false after kLoadTimeoutMs.
    static bool showsPage(QSignalSpy& reported, const QString& path);
    void checkLoadBook(bool staged);
    static QList<QAction*> toolBarActions(const MainWindow& w) { return withSeparators(w.toolBar->actions()); }
    static QList<QAction*> pageActions(const MainWindow& w)
    {
        return {w.zoomOutAction, w.zoomInAction, w.saveAsAction, w.copyAction, w.printPreviewAction, w.printAction,
                w.noteAction, w.eraseAction};
    }
    static QStringList tabTitles(const MainWindow& w)
    {
        QStringList titles;
        for (int i = 0; i < w.panelTabs->count(); ++i)
            titles << w.panelTabs->tabText(i);
        return titles;
    }

    QTemporaryDir m_books;
    int m_copies = 0;
};

QString TestMainWindow::copyBook(const QString& source, const QString& name)
{
    const QString target = m_books.filePath(QStringLiteral("%1/%2").arg(++m_copies).arg(
        name.isEmpty() ? QFileInfo(source).fileName() : name));
    QDir().mkpath(QFileInfo(target).path());
    return QFile::copy(source, target) ? target : QString();
}

bool TestMainWindow::showsPage(QSignalSpy& reported, const QString& path)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kLoadTimeoutMs) {
        for (const QList<QVariant>& report : std::as_const(reported)) {
            if (report.at(0).toString() == path)
                return true;
        }
        QTest::qWait(20);
    }
    return false;
}

void TestMainWindow::init()
{
    clearSettings();
}

// ---------------------------------------------------------------------------------------------

void TestMainWindow::actions_data()
{
    QTest::addColumn<QString>("member");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("icon");
    QTest::addColumn<QString>("iconText");
    QTest::addColumn<QString>("toolTip");

    const auto row = [](const char* member, const char* text, const char* icon, const char* iconText, const char* tip) {
        QTest::newRow(member) << member << text << icon << iconText << tip;
    };
    row("backAction", "Back", "Back", "  Back  ", "Go back");
    row("forwardAction", "Forward", "Forward", "Forward", "Go Forward");
    row("homeAction", "Home", "Home", "  Home  ", "Go home page");
    row("zoomInAction", "Zoom In", "ZoomIn", "Zoom In", "Zoom In current page");
    row("zoomOutAction", "Zoom Out", "ZoomOut", "Zoom Out", "Zoom Out current page");
    row("fullScreenAction", "FullScreen", "FullScreen", "FullScreen", "Full Screen");
    row("printAction", "Print", "Print", "  Print  ", "Print current page ");
    row("printPreviewAction", "PrintPreview", "PrintPreview", "Print preview", "Preview current page before print");
    row("saveAsAction", "Save current page as...", "SaveAs", "Save As", "Save current page as...");
    row("extractAction", "Extract current chm file", "Extract", "Extract", "Extract current chm file");
    row("copyAction", "Copy", "Copy", "  Copy  ", "Copy select text");
    row("copyLinkAction", "Copy Link to This Page", "Copy", "Copy Link", "Copy a link that opens this book at this page");
    row("noteAction", "Note", "Note", " Note ", "Make note on current selected words with highlight ");
    row("eraseAction", "Erase", "unNote", " Erase ", "Erase all notes in current page");
    row("bookmarkAction", "Bookmark", "BookMark", "Bookmark", "Bookmark current page");
    // Without a tool tip of their own, Qt shows the text stripped of its dots.
    row("quitAction", "Quit", "Quit", "  Quit  ", "Quit");
    row("noteColorAction", "Scribe color Preference...", "Colors", "Note Color", "Note colors to choose");
    row("aboutAction", "About Pagewick...", "About", " About ", "About Pagewick");
    row("panel toggle", "Navigation Panels", "TOC", " Panels ", "Navigation Panels");
    row("openAction", "Open", "Open", "  Open  ", "Open another book in a new window");
    row("helpAction", "Help", "Help", "  Help  ", "Open the user guide (F1)");
}

void TestMainWindow::actions()
{
    QFETCH(QString, member);
    QFETCH(QString, text);
    QFETCH(QString, icon);
    QFETCH(QString, iconText);
    QFETCH(QString, toolTip);

    ProbeWindow w;
    const QHash<QString, QAction*> byName = {
        {"backAction", w.backAction}, {"forwardAction", w.forwardAction}, {"homeAction", w.homeAction},
        {"zoomInAction", w.zoomInAction}, {"zoomOutAction", w.zoomOutAction},
        {"fullScreenAction", w.fullScreenAction}, {"printAction", w.printAction},
        {"printPreviewAction", w.printPreviewAction}, {"saveAsAction", w.saveAsAction},
        {"extractAction", w.extractAction}, {"copyAction", w.copyAction}, {"copyLinkAction", w.copyLinkAction}, {"noteAction", w.noteAction},
        {"eraseAction", w.eraseAction}, {"bookmarkAction", w.bookmarkAction}, {"quitAction", w.quitAction},
        {"noteColorAction", w.noteColorAction}, {"aboutAction", w.aboutAction},
        {"panel toggle", w.panelDock->toggleViewAction()},
        {"openAction", w.openAction}, {"helpAction", w.helpAction},
    };
    QAction* action = byName.value(member);
    QVERIFY(action);
    QCOMPARE(action->text(), text);
    QCOMPARE(action->iconText(), iconText);
    QCOMPARE(action->toolTip(), toolTip);
    QCOMPARE(action->isCheckable(), member == QLatin1String("fullScreenAction") || member == QLatin1String("panel toggle"));
    QVERIFY(action->shortcut().isEmpty());
    QCOMPARE(action->statusTip(), member == QLatin1String("panel toggle") ? toolTip : QString());

    // Without a desktop theme the icon is the compiled-in drawing, drawn afresh at every scale
    // factor: never a smaller picture scaled up.
    QVERIFY2(sharpAtEveryScale(action->icon(), QStringLiteral(":/images/%1.svg").arg(icon)), qPrintable(icon));
}

// Icons the desktop theme has under the standard name come from the theme; ours stand in
// for the others.
void TestMainWindow::themeIcons()
{
    QTemporaryDir themes;
    const QString folder = themes.filePath(QStringLiteral("probe/16x16/actions"));
    QVERIFY(QDir().mkpath(folder));
    QFile index(themes.filePath(QStringLiteral("probe/index.theme")));
    QVERIFY(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=probe\nDirectories=16x16/actions\n\n"
                "[16x16/actions]\nSize=16\nContext=Actions\nType=Fixed\n");
    index.close();
    QImage red(16, 16, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QVERIFY(red.save(folder + QStringLiteral("/go-previous.png")));
    const QStringList oldPaths = QIcon::themeSearchPaths();
    const QString oldName = QIcon::themeName();
    QIcon::setThemeSearchPaths({themes.path()});
    QIcon::setThemeName(QStringLiteral("probe"));
    const auto restore = qScopeGuard([&] {
        QIcon::setThemeName(oldName);
        QIcon::setThemeSearchPaths(oldPaths);
    });

    ProbeWindow w;
    QCOMPARE(w.backAction->icon().pixmap(16).toImage().convertToFormat(QImage::Format_ARGB32), red);
    QVERIFY(sharpAtEveryScale(w.forwardAction->icon(), QStringLiteral(":/images/Forward.svg")));
    QVERIFY(sharpAtEveryScale(w.noteAction->icon(), QStringLiteral(":/images/Note.svg")));
}

void TestMainWindow::toolBarAndDock()
{
    ProbeWindow w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Pagewick 1.0"));
    QVERIFY(!w.windowIcon().isNull());
    QVERIFY(QFile::exists(QStringLiteral(":/images/Icon.svg")));

    QCOMPARE(w.toolBar->windowTitle(), QStringLiteral("ToolBar"));
    QVERIFY(!w.toolBar->isMovable());
    QCOMPARE(w.toolBar->toolButtonStyle(), Qt::ToolButtonIconOnly);
    QCOMPARE(w.toolBar->iconSize(), QSize(16, 16));
    const QList<QAction*> expected = {
        w.panelDock->toggleViewAction(), w.backAction, w.forwardAction, w.homeAction, nullptr,
        w.noteAction, w.eraseAction, w.zoomInAction, w.zoomOutAction, w.bookmarkAction, nullptr,
        w.printPreviewAction, w.printAction, w.saveAsAction, w.extractAction, w.fullScreenAction, nullptr,
        w.noteColorAction, w.aboutAction, nullptr, w.openAction, w.helpAction};
    QCOMPARE(toolBarActions(w), expected);

    QCOMPARE(w.panelDock->windowTitle(), QStringLiteral("Navigation Panels"));
    QCOMPARE(w.panelDock->allowedAreas(), Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    QCOMPARE(w.panelDock->maximumWidth(), std::max(231, w.width() / 2));
    QCOMPARE(w.dockWidgetArea(w.panelDock), Qt::LeftDockWidgetArea);
    QCOMPARE(w.panelDock->widget(), w.panelTabs);
    QCOMPARE(tabTitles(w), QStringList({"Contents", "Search", "Bookmarks"}));
    QCOMPARE(w.panelTabs->widget(0), w.contentsWidget);
    QCOMPARE(w.panelTabs->widget(1), w.searchWidget);
    QCOMPARE(w.panelTabs->widget(2), w.favoritesWidget);
    QCOMPARE(w.panelTabs->currentWidget(), w.contentsWidget);
    QCOMPARE(w.centralWidget(), w.view);

    // The three tab titles are readable whole in the narrow dock.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QTabBar* tabs = w.panelTabs->tabBar();
    QVERIFY(tabs->tabRect(2).right() < tabs->width());
}

void TestMainWindow::contextMenu()
{
    ProbeWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // A right click on the page opens the menu once; other buttons pass through.
    QTest::mouseClick(w.view, Qt::RightButton, {}, QPoint(20, 20));
    QCOMPARE(w.menus.size(), 1);
    QTest::mouseClick(w.view, Qt::LeftButton, {}, QPoint(20, 20));
    QCOMPARE(w.menus.size(), 1);

    const QList<QAction*> expected = {
        w.panelDock->toggleViewAction(), w.backAction, w.forwardAction, w.homeAction, nullptr,
        w.copyAction, w.copyLinkAction, w.noteAction, w.eraseAction, w.zoomInAction, w.zoomOutAction,
        w.pageColors->menuAction(), nullptr, w.bookmarkAction, w.saveAsAction, w.printPreviewAction, w.printAction, nullptr,
        w.fullScreenAction, w.quitAction, nullptr, w.openAction, w.helpAction};
    QCOMPARE(w.menus.constFirst(), expected);

    // The page's own context menu request reaches the window too.
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), w.view->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(w.view, &event);
    QCOMPARE(w.menus.size(), 2);
    QCOMPARE(w.menus.constLast(), expected);

    // The window's own menu runs no loop of its own: the page engine that asked for it goes on
    // answering (a command chosen in it may wait for the page).
    MainWindow plain;
    plain.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plain));
    QTimer::singleShot(2000, &plain, [&plain] {   // ends a menu that would wait for a click
        for (QMenu* open : plain.findChildren<QMenu*>())
            open->close();
    });
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5), plain.pageView()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(plain.pageView(), &request);
    QMenu* shown = nullptr;
    for (QMenu* menu : plain.findChildren<QMenu*>())
        shown = menu->isVisible() ? menu : shown;
    QVERIFY(shown);
    QVERIFY(shown->actions().contains(plain.copyLinkAction));
    shown->close();
}

// ---------------------------------------------------------------------------------------------

void TestMainWindow::loadBook_data()
{
    QTest::addColumn<QString>("book");           // a path, or "bare" / "text" / "japanese" for a book made here
    QTest::addColumn<QString>("fileName");       // the name the copy gets
    QTest::addColumn<QStringList>("tabs");
    QTest::addColumn<QString>("shownPage");
    QTest::addColumn<QString>("message");

    const QStringList all = {"Contents", "Search", "Bookmarks"};
    QTest::newRow("contents and index") << testBookPath("english.chm") << "english.chm" << all << "/index.htm" << "";
    // No default topic: the first contents entry that leads somewhere ("Topics" is a heading).
    // A book without an index keeps its Search tab: the search panel indexes its pages.
    QTest::newRow("no index, no default topic") << testBookPath("nocontents.chm") << "nocontents.chm"
                                                << all << "/first.htm" << "";
    QTest::newRow("neither contents nor index") << "bare" << "bare book.chm"
                                                << QStringList({"Search", "Bookmarks"}) << "/page.htm" << "";
    QTest::newRow("text file named like a book") << "text" << "x.chm" << all << "about:blank"
                                                 << "<p>x.chm maybe locked for another application and can not be "
                                                    "loaded.</p><p>close another application and reload again please</p>";
    QTest::newRow("the reader's own help book") << QStringLiteral(PAGEWICK_HELP_BOOK) << "Help.chm" << all
                                                << "/index.htm" << "";
    // An index whose words are all Japanese characters: no probe in a Latin script finds
    // anything in it, and the Search tab stays all the same.
    QTest::newRow("index of Japanese words only") << "japanese" << "japanese.chm" << all << "/index.htm" << "";
    // Empty when the real books are absent: the test skips it.
    QTest::newRow("real book without an index") << sharedBookPath("halibut-puzzles.chm") << "puzzles.CHM" << all
                                                << "/index.html" << "";
}

void TestMainWindow::loadBook()
{
    checkLoadBook(false);
}

void TestMainWindow::checkLoadBook(bool staged)
{
    QFETCH(QString, book);
    QFETCH(QString, fileName);
    QFETCH(QStringList, tabs);
    QFETCH(QString, shownPage);
    QFETCH(QString, message);
    if (book.isEmpty())
        QSKIP("real books not available");

    QString path;
    if (book == QLatin1String("bare") || book == QLatin1String("text") || book == QLatin1String("japanese")) {
        path = m_books.filePath(QStringLiteral("%1/%2").arg(++m_copies).arg(fileName));
        QDir().mkpath(QFileInfo(path).path());
        if (book == QLatin1String("japanese")) {
            QVERIFY(rebuildWithCharacterIndex(testBookPath(QStringLiteral("japanese.chm")), path,
                                              QTextCodec::codecForName("windows-31j")));
        } else if (book == QLatin1String("bare")) {
            QByteArray system;
            appendLe32(system, 3);
            appendLe16(system, 2);  // default topic
            appendLe16(system, 9);
            system += QByteArray("page.htm", 9);
            QVERIFY(writeChmContainer(path, {{"/#SYSTEM", system},
                                             {"/page.htm", "<html><head><title>Bare</title></head><body>A page</body></html>"}}));
        } else {
            QFile text(path);
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write("These are not the pages you are looking for.\n");
        }
    } else {
        path = copyBook(book, fileName);
        QVERIFY2(!path.isEmpty(), qPrintable(book));
    }

    ProbeWindow w;
    QSignalSpy reported(w.view, &ViewWidget::urlToFavorites);
    if (staged)
        w.loadBook(path, true);
    else
        w.loadBook(path);
    w.show();

    // The title names the file, not the book's own title, with two spaces before the dash.
    QCOMPARE(w.windowTitle(), QStringLiteral("Pagewick 1.0  - [%1]").arg(fileName));
    QVERIFY(!w.bookUnreadable());
    // The contents, the tabs and any message follow from the worker, in one delivery. The
    // keyword index comes from a worker of its own and adds its tab whenever it is read: that
    // tab is left out here.
    QTRY_VERIFY_WITH_TIMEOUT(!w.outlinePending && !w.indexWidget->isLoading(), kLoadTimeoutMs);
    QStringList shownTabs = tabTitles(w);
    shownTabs.removeAll(QStringLiteral("Index"));
    QCOMPARE(shownTabs, tabs);
    QCOMPARE(w.panelTabs->currentWidget() == w.contentsWidget, tabs.first() == QLatin1String("Contents"));
    if (message.isEmpty())
        QCOMPARE(w.contents.isEmpty(), !tabs.contains(QStringLiteral("Contents")));
    else
        QVERIFY(w.contents.isEmpty());
    QCOMPARE(w.contentsWidget->tree()->model()->rowCount() > 0, !w.contents.isEmpty());
    QVERIFY2(showsPage(reported, shownPage), qPrintable(shownPage));

    if (message.isEmpty()) {
        QCOMPARE(w.messages.size(), 0);
    } else {
        QCOMPARE(w.messages.size(), 1);
        QCOMPARE(w.messages.constFirst().icon, QMessageBox::Critical);
        QCOMPARE(w.messages.constFirst().title, QStringLiteral("Pagewick"));
        QCOMPARE(w.messages.constFirst().text, message);
        QCOMPARE(w.messages.constFirst().detail, QStringLiteral("The file is not a Compiled HTML Help (CHM) book."));
    }
}

void TestMainWindow::missingBook()
{
    ProbeWindow w;
    w.loadBook(m_books.filePath(QStringLiteral("no such book.chm")));
    QVERIFY(w.bookUnreadable());
    QCOMPARE(w.messages.size(), 1);
    QCOMPARE(w.messages.constFirst().icon, QMessageBox::Warning);
    QCOMPARE(w.messages.constFirst().title, QStringLiteral("Pagewick 1.0"));
    QCOMPARE(w.messages.constFirst().text, QStringLiteral("Unknown error, file can not loading"));
    QCOMPARE(w.messages.constFirst().detail, QStringLiteral("The file does not exist."));
    QCOMPARE(w.windowTitle(), QStringLiteral("Pagewick 1.0"));
}

// The panels reach the view and the view reaches the bookmarks panel only through the window.
void TestMainWindow::panelsReachTheView()
{
    const QString path = copyBook(testBookPath("english.chm"));
    ProbeWindow w;
    QSignalSpy reported(w.view, &ViewWidget::urlToFavorites);
    w.loadBook(path);
    w.show();
    QVERIFY(showsPage(reported, "/index.htm"));
    QCOMPARE(w.searchWidget->bookPath(), path);

    reported.clear();
    emit w.contentsWidget->currentUrlChanged(QStringLiteral("/intro.htm"));
    QVERIFY(showsPage(reported, "/intro.htm"));
    w.bookmark();
    QCOMPARE(w.favoritesWidget->bookmarks(), QStringList({"Introduction", "/intro.htm"}));

    reported.clear();
    emit w.favoritesWidget->currentUrlChanged(QStringLiteral("/chapter1.htm"));
    QVERIFY(showsPage(reported, "/chapter1.htm"));

    reported.clear();
    emit w.searchWidget->currentUrlChanged(QStringLiteral("/chapter2.htm"), QStringLiteral("chapter"));
    QVERIFY(showsPage(reported, "/chapter2.htm"));

    reported.clear();
    w.home();
    QVERIFY(showsPage(reported, "/index.htm"));

    // A search that finds nothing is told by the view.
    ModalWatchdog watchdog;
    emit w.searchWidget->noTopicSearched();
    QCOMPARE(watchdog.texts, QStringList({"no topics find"}));
}

// ---------------------------------------------------------------------------------------------

// After a link, back or forward the contents tree shows the page's entry, and the view loads
// each page once: the tree asks for nothing.
void TestMainWindow::contentsFollowThePage()
{
    const QString path = copyBook(testBookPath("english.chm"));
    ProbeWindow w;
    QSignalSpy reported(w.view, &ViewWidget::urlToFavorites);
    QSignalSpy asked(w.contentsWidget, &ContentsWidget::currentUrlChanged);
    w.loadBook(path);
    w.show();
    QVERIFY(showsPage(reported, "/index.htm"));
    QTreeView* tree = w.contentsWidget->tree();
    auto selected = [tree] { return tree->currentIndex().data().toString(); };
    QCOMPARE(selected(), QStringLiteral("Welcome"));

    QWebEnginePage* page = w.view->findChild<QWebEngineView*>()->page();
    auto loadsOnce = [&](const std::function<void()>& action, const char* shown) {
        reported.clear();
        const int loadsBefore = w.loadsDone;
        action();
        if (!showsPage(reported, QString::fromLatin1(shown)))
            return false;
        QTest::qWait(300);   // a second load, had there been one, would have begun by now
        return w.loadsDone == loadsBefore + 1 && reported.size() == 1;
    };
    // A click of the mouse, as the reader makes it: back passes over pages a script went to.
    QVariantList point;
    page->runJavaScript(QStringLiteral("(function () { var r = document.querySelector('a[href=\"sub/page.htm\"]')"
                                       ".getClientRects()[0]; return [r.left + 4, r.top + r.height / 2]; })()"),
                        [&point](const QVariant& value) { point = value.toList(); });
    QTRY_COMPARE(point.size(), 2);
    QWidget* surface = w.view->findChild<QWebEngineView*>()->focusProxy();
    QVERIFY(loadsOnce([&] {
        QTest::mouseClick(surface, Qt::LeftButton, {}, QPoint(point.at(0).toInt(), point.at(1).toInt()));
    }, "/sub/page.htm"));
    QCOMPARE(selected(), QStringLiteral("A Page in a Folder"));
    QVERIFY(tree->isExpanded(tree->currentIndex().parent()));
    QVERIFY(loadsOnce([&] { w.back(); }, "/index.htm"));
    QCOMPARE(selected(), QStringLiteral("Welcome"));
    QVERIFY(loadsOnce([&] { w.forward(); }, "/sub/page.htm"));
    QCOMPARE(selected(), QStringLiteral("A Page in a Folder"));
    QCOMPARE(asked.size(), 0);
}

// Screen readers find a name on every control of the window with a book open: tool bar,
// panels, the page and the find bar. The page's own content is the book's, and not walked.
void TestMainWindow::everyControlNamed()
{
    const QString path = copyBook(testBookPath("keywords.chm"));
    ProbeWindow w;
    QSignalSpy reported(w.view, &ViewWidget::urlToFavorites);
    w.loadBook(path);
    w.show();
    QVERIFY(showsPage(reported, "/welcome.htm"));
    QTRY_VERIFY(tabTitles(w).contains(QStringLiteral("Index")));   // once the index is read
    w.view->findChild<FindBar*>()->open();
    auto* page = w.view->findChild<QWebEngineView*>();
    QTRY_VERIFY(page->focusProxy());

    // Controls need a name, and no name carries padding.
    const QSet<QAccessible::Role> controls = {
        QAccessible::Button, QAccessible::ButtonMenu, QAccessible::ButtonDropDown, QAccessible::CheckBox,
        QAccessible::RadioButton, QAccessible::ComboBox, QAccessible::EditableText, QAccessible::SpinBox,
        QAccessible::List, QAccessible::Tree, QAccessible::PageTab, QAccessible::PageTabList,
        QAccessible::StaticText};
    QStringList faults;
    int walked = 0;
    const std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        if (!node || node->state().invisible)
            return;
        ++walked;
        const QString name = node->text(QAccessible::Name);
        const bool isPage = node->object() == page || node->object() == page->focusProxy();
        if ((name.isEmpty() && (controls.contains(node->role()) || isPage)) || name != name.trimmed())
            faults << QStringLiteral("%1 \"%2\"").arg(node->object()->metaObject()->className(), name);
        for (int i = 0; !isPage && i < node->childCount(); ++i)
            walk(node->child(i));
    };
    for (int tab = 0; tab < w.panelTabs->count(); ++tab) {
        w.panelTabs->setCurrentIndex(tab);
        walk(QAccessible::queryAccessibleInterface(&w));
    }
    QVERIFY(walked > 40);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
    QCOMPARE(w.toolBar->widgetForAction(w.backAction)->accessibleName(), QStringLiteral("Back"));
    QCOMPARE(w.backAction->iconText(), QStringLiteral("  Back  "));   // the visible text keeps its spaces
    QTRY_COMPARE(page->focusProxy()->accessibleName(), QStringLiteral("Welcome"));   // the page's title

    // Tab runs from the panels' tabs through the panel to the page, then the find bar.
    w.panelTabs->setCurrentWidget(w.contentsWidget);
    QList<QWidget*> chain;
    for (QWidget* next = w.panelTabs->tabBar(); chain.size() < 200; next = next->nextInFocusChain()) {
        if (next->isVisible() && next->isEnabled() && (next->focusPolicy() & Qt::TabFocus) && !chain.contains(next))
            chain << next;
        else if (next == chain.constFirst())
            break;
    }
    const QList<qsizetype> order = {chain.indexOf(w.panelTabs->tabBar()), chain.indexOf(w.contentsWidget->tree()),
                                    chain.indexOf(page->focusProxy()),
                                    chain.indexOf(w.view->findChild<FindBar*>()->field())};
    QVERIFY2(order.first() == 0 && std::is_sorted(order.begin(), order.end()) && order.at(1) > 0,
             qPrintable(QDebug::toString(order)));
}

void TestMainWindow::fullScreen()
{
    ProbeWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QSize normalSize = w.size();

    w.fullScreenAction->trigger();
    QTRY_VERIFY(w.isFullScreen());
    QVERIFY(!w.toolBar->isVisible());
    QVERIFY(!w.panelDock->isVisible());
    // The page's menu is the way out.
    QTest::mouseClick(w.view, Qt::RightButton, {}, QPoint(10, 10));
    QCOMPARE(w.menus.size(), 1);
    QVERIFY(w.menus.constFirst().contains(w.fullScreenAction));

    w.fullScreenAction->trigger();
    QTRY_VERIFY(!w.isFullScreen());
    QCOMPARE(w.windowState(), Qt::WindowNoState);
    QVERIFY(w.toolBar->isVisible());
    QVERIFY(!w.panelDock->isVisible());
    QVERIFY(!w.panelDock->isFloating());
    QTRY_COMPARE(w.size(), normalSize);

    // The panel toggle brings the dock back.
    w.panelDock->toggleViewAction()->trigger();
    QVERIFY(w.panelDock->isVisible());

    // Escape, with the focus in the page, leaves full screen, and only full screen.
    w.fullScreenAction->trigger();
    QTRY_VERIFY(w.isFullScreen());
    QVERIFY(w.fullScreenAction->isChecked());
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QWidget* page = w.view->findChild<QWebEngineView*>()->focusProxy();
    page->setFocus();
    QTest::keyClick(page, Qt::Key_Escape);
    QTRY_VERIFY(!w.isFullScreen());
    QVERIFY(!w.fullScreenAction->isChecked());
    QVERIFY(w.toolBar->isVisible());
    QTest::keyClick(page, Qt::Key_Escape);
    QCOMPARE(w.windowState(), Qt::WindowNoState);
}

void TestMainWindow::pageCommandsFollowTheView()
{
    ProbeWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.waitForFirstLoad());
    const QList<QAction*> page = pageActions(w);
    const QList<QAction*> others = {w.fullScreenAction, w.extractAction, w.bookmarkAction, w.quitAction,
                                    w.noteColorAction, w.aboutAction, w.panelDock->toggleViewAction()};
    // Back, forward and home follow where the view can go, whatever the last load did.
    const QList<QAction*> history = {w.backAction, w.forwardAction, w.homeAction};
    for (const QList<bool>& can : QList<QList<bool>>{{true, false, true}, {false, true, false}}) {
        emit w.view->historyChanged(can.at(0), can.at(1), can.at(2));
        for (const bool enabled : {false, true}) {
            emit w.view->canNote(enabled);
            for (int i = 0; i < history.size(); ++i) {
                QCOMPARE(history.at(i)->isEnabled(), can.at(i));
                QCOMPARE(w.toolBar->widgetForAction(history.at(i))->isEnabled(), can.at(i));
            }
        }
    }

    for (const bool enabled : {false, true}) {
        emit w.view->canNote(enabled);
        QTest::mouseClick(w.view, Qt::RightButton, {}, QPoint(10, 10));
        const QList<QAction*> menu = w.menus.constLast();
        for (QAction* action : page) {
            QCOMPARE(action->isEnabled(), enabled);
            if (QWidget* button = w.toolBar->widgetForAction(action))
                QCOMPARE(button->isEnabled(), enabled);
            if (menu.contains(action))
                QCOMPARE(action->isEnabled(), enabled);
        }
        for (QAction* action : others) {
            QVERIFY2(action->isEnabled(), qPrintable(action->text()));
            if (QWidget* button = w.toolBar->widgetForAction(action))
                QVERIFY(button->isEnabled());
        }
    }
    // Copy and Quit are on the menu only, the rest of the eleven page commands on both.
    QVERIFY(!w.toolBar->widgetForAction(w.copyAction));
    QVERIFY(w.menus.constLast().contains(w.copyAction));
}

void TestMainWindow::bookmarkWithDockHidden()
{
    ProbeWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.waitForFirstLoad());
    w.panelDock->toggleViewAction()->trigger();
    QVERIFY(w.panelDock->isHidden());
    w.panelTabs->setCurrentWidget(w.searchWidget);

    emit w.view->urlToFavorites(QStringLiteral("/page.htm"));
    emit w.view->topicToFavorites(QStringLiteral("A Page"));
    w.bookmarkAction->trigger();
    QVERIFY(w.panelDock->isVisible());
    QVERIFY(!w.panelDock->isFloating());
    QCOMPARE(w.panelTabs->currentWidget(), w.favoritesWidget);
    QCOMPARE(w.favoritesWidget->bookmarks(), QStringList({"A Page", "/page.htm"}));
}

// ---------------------------------------------------------------------------------------------

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// Notes and bookmarks go into the book when the window closes and come back with the next
// window; erasing them all gives back the original file, byte for byte.
void TestMainWindow::userDataCycle()
{
    const QString path = copyBook(testBookPath("english.chm"));
    const QByteArray original = fileBytes(path);
    QVERIFY(!original.isEmpty());
    NoteStore made;
    made.addMark("/index.htm", {5, 7});
    made.addMark("/intro.htm", {0, 4});
    made.addMark("/index.htm", {20, 3});
    const QStringList bookmarks{"Welcome", "/index.htm", QString::fromUtf8("Café & Bar"), "/cafe.htm"};

    {
        ProbeWindow w;
        w.loadBook(path);
        w.show();
        QVERIFY(w.waitForFirstLoad());
        w.notes = made;  // as the view's note() files them
        w.favoritesWidget->setBookmarks(bookmarks);
        QVERIFY(w.close());
    }
    const QByteArray written = fileBytes(path);
    QCOMPARE(written.left(original.size()), original);  // the container is untouched
    const QByteArray record = written.mid(original.size());
    QCOMPARE(record, UserDataRecord::encode(made, bookmarks));  // exactly one record
    {
        LCHMFile book;
        QVERIFY(book.openBook(path));
        QCOMPARE(book.bookTitle(), QStringLiteral("Tom & Jerry's Guide"));
    }

    {
        ProbeWindow w;
        w.loadBook(path);
        w.show();
        QVERIFY(w.waitForFirstLoad());
        QCOMPARE(w.favoritesWidget->bookmarks(), bookmarks);
        QCOMPARE(static_cast<const QVector<PageNotes>&>(w.notes), static_cast<const QVector<PageNotes>&>(made));
        QCOMPARE(w.favoritesWidget->list()->count(), 2);

        w.notes.clear();
        w.favoritesWidget->clearButton()->click();
        QVERIFY(w.close());
    }
    QCOMPARE(fileBytes(path), original);
}

// A record with one bit flipped in its compressed block (300 pages, 15,000 marks) cannot be read:
// the reader is told once, at load, and the bytes stay as they are through open and close; notes
// made meanwhile replace them only when the reader says so.
void TestMainWindow::unreadableRecordKept_data()
{
    QTest::addColumn<bool>("bookmarkMade");
    QTest::addColumn<QList<QMessageBox::StandardButton>>("answers");   // at each close, in turn
    QTest::addColumn<bool>("replaced");

    using B = QMessageBox::StandardButton;
    QTest::newRow("nothing made") << false << QList<B>{} << false;
    QTest::newRow("bookmark made, kept the old ones") << true << QList<B>{B::No} << false;
    QTest::newRow("bookmark made, cancelled, then kept") << true << QList<B>{B::Cancel, B::No} << false;
    QTest::newRow("bookmark made, replaced") << true << QList<B>{B::Yes} << true;
}

void TestMainWindow::unreadableRecordKept()
{
    QFETCH(bool, bookmarkMade);
    QFETCH(QList<QMessageBox::StandardButton>, answers);
    QFETCH(bool, replaced);

    const QString path = copyBook(testBookPath("english.chm"));
    const QByteArray original = fileBytes(path);
    NoteStore stored;
    for (int page = 0; page < 300; ++page) {
        for (int mark = 0; mark < 50; ++mark)
            stored.addMark(QStringLiteral("/page%1.htm").arg(page), NoteMark{mark * 10, 5});
    }
    QByteArray record = UserDataRecord::encode(stored, {"Welcome", "/index.htm"});
    record[record.size() / 2] = char(record.at(record.size() / 2) ^ 0x10);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append) && file.write(record) == record.size());
    }
    const QByteArray damaged = fileBytes(path);

    ProbeWindow w;
    w.loadBook(path);
    QCOMPARE(w.messages.size(), 1);
    QCOMPARE(w.messages.constFirst().icon, QMessageBox::Warning);
    QCOMPARE(w.messages.constFirst().text,
             QStringLiteral("The notes and bookmarks stored in english.chm could not be read.\n\nThe book keeps "
                            "them as they are: closing it does not change them unless you choose to replace them "
                            "with the notes and bookmarks of this session."));
    QVERIFY(w.notes.isEmpty());
    w.show();
    QVERIFY(w.waitForFirstLoad());
    const QStringList bookmarks{"Mine", "/intro.htm"};
    if (bookmarkMade)
        w.favoritesWidget->setBookmarks(bookmarks);

    w.answers = answers;
    while (!w.close()) {
        QVERIFY(w.answers.size() < answers.size());   // only an answer keeps the window open
        QCOMPARE(w.favoritesWidget->bookmarks(), bookmarks);
        QCOMPARE(fileBytes(path), damaged);
    }
    QCOMPARE(w.questions.size(), answers.size());
    if (!answers.isEmpty()) {
        QVERIFY(w.questions.constFirst().text.contains("could not be read when it was opened"));
        QCOMPARE(w.questionChoices.constFirst().size(), 3);
    }
    QCOMPARE(w.messages.size(), 1);   // told once
    QCOMPARE(fileBytes(path), replaced ? original + UserDataRecord::encode({}, bookmarks) : damaged);
}

namespace {

// A small tmpfs mounted on a temporary folder while it lives; mounting needs root.
class TmpfsMount
{
public:
    TmpfsMount()
    {
        m_mounted = ::geteuid() == 0
            && ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0, "size=4m") == 0;
    }
    ~TmpfsMount()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    bool setReadOnly(bool readOnly)
    {
        return ::mount(nullptr, QFile::encodeName(m_dir.path()).constData(), nullptr,
                       MS_REMOUNT | (readOnly ? MS_RDONLY : 0), "size=4m") == 0;
    }
    // Fills the file system up with one file; removing that file makes room again.
    bool fill()
    {
        QFile filler(filePath(QStringLiteral("filler")));
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        return true;
    }
    void makeRoom() { QFile::remove(filePath(QStringLiteral("filler"))); }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};

} // namespace

void TestMainWindow::failedSave_data()
{
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QMessageBox::StandardButton>("finally");   // after one Cancel

    QTest::newRow("full disk, then try again") << "no space" << "No space left on device" << QMessageBox::Retry;
    QTest::newRow("full disk, close without saving") << "no space" << "No space left on device" << QMessageBox::Discard;
    QTest::newRow("read-only file system, then try again") << "read-only" << "Read-only file system" << QMessageBox::Retry;
    QTest::newRow("full tmpfs, then try again") << "full tmpfs" << "No space left on device" << QMessageBox::Retry;
    QTest::newRow("read-only mount, close without saving") << "read-only mount" << "Read-only file system"
                                                           << QMessageBox::Discard;
}

// Notes that cannot be saved on close: the reader sees why and chooses; after Cancel the window
// stays open with the notes in memory and the book as it was; Try Again saves them once the
// cause is gone; Close Without Saving leaves the book as it was.
void TestMainWindow::failedSave()
{
    QFETCH(QString, failure);
    QFETCH(QString, reason);
    QFETCH(QMessageBox::StandardButton, finally);

    TmpfsMount mount;
    const bool real = failure.contains("tmpfs") || failure.contains("mount");
    if (real && !mount.mounted())
        QSKIP("mounting a tmpfs needs root");
    const QString path = real ? mount.filePath("english.chm") : copyBook(testBookPath("english.chm"));
    if (real)
        QVERIFY(QFile::copy(testBookPath("english.chm"), path));
    const QByteArray original = fileBytes(path);

    // Enough bookmarks that the record cannot hide in the book's last page on a full disk.
    NoteStore made;
    made.addMark("/index.htm", {5, 7});
    QStringList bookmarks;
    QRandomGenerator random(14);
    for (int i = 0; i < 400; ++i)
        bookmarks << QString::number(random.generate64(), 36) << QStringLiteral("/page%1.htm").arg(i);

    ProbeWindow w;
    w.loadBook(path);
    w.show();
    QVERIFY(w.waitForFirstLoad());
    w.notes = made;
    w.favoritesWidget->setBookmarks(bookmarks);

    // The failure, set up again before each close (an injected write failure lasts one write).
    std::function<void()> inject;
    std::function<void()> cure = [&w] { w.userData.setFault(BookUserData::Fault::None); };
    if (failure == "no space") {
        inject = [&w] { w.userData.setFault(BookUserData::Fault::FailWrite, 100); };
    } else if (failure == "read-only") {
        inject = [&w] { w.userData.setFault(BookUserData::Fault::ReadOnly); };
    } else if (failure == "full tmpfs") {
        QVERIFY(mount.fill());
        inject = [] {};
        cure = [&mount] { mount.makeRoom(); };
    } else {
        QVERIFY(mount.setReadOnly(true));
        inject = [] {};
        cure = [&mount] { mount.setReadOnly(false); };
    }

    inject();
    w.answers = {QMessageBox::Cancel};
    QVERIFY(!w.close());
    QCOMPARE(w.questions.size(), 1);
    QCOMPARE(w.questions.constFirst().icon, QMessageBox::Critical);
    QVERIFY2(w.questions.constFirst().text.contains(reason), qPrintable(w.questions.constFirst().text));
    QVERIFY(w.questions.constFirst().text.startsWith("Your notes and bookmarks could not be saved in english.chm: "));
    QStringList labels;
    for (const auto& choice : std::as_const(w.questionChoices.constFirst()))
        labels << choice.second;
    QCOMPARE(labels, (QStringList{"Try Again", "Close Without Saving", "Cancel"}));
    QVERIFY(w.isVisible());
    QCOMPARE(static_cast<const QVector<PageNotes>&>(w.notes), static_cast<const QVector<PageNotes>&>(made));
    QCOMPARE(w.favoritesWidget->bookmarks(), bookmarks);
    QCOMPARE(fileBytes(path), original);

    inject();
    w.answers = {finally};
    if (finally == QMessageBox::Retry)
        w.beforeAnswer = cure;
    QVERIFY(w.close());
    QCOMPARE(w.questions.size(), 2);
    if (finally == QMessageBox::Retry)
        QCOMPARE(fileBytes(path), original + UserDataRecord::encode(made, bookmarks));
    else
        QCOMPARE(fileBytes(path), original);
    cure();
}

// ---------------------------------------------------------------------------------------------

void TestMainWindow::settingsFirstRun()
{
    QSize firstSize;
    QPoint firstPos;
    {
        // Three quarters of the screen, in its middle.
        ProbeWindow w;
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(w.size(), QSize(screen.width() * 3 / 4, screen.height() * 3 / 4));
        QCOMPARE(w.pos(), screen.topLeft() + QPoint(screen.width() / 8, screen.height() / 8));
        firstSize = w.size();
        firstPos = w.pos();
        QCOMPARE(w.noteColor, QColor(QStringLiteral("#a4e16f")));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.close();
    }
    QCOMPARE(storedSetting("size").toSize(), firstSize);
    QCOMPARE(storedSetting("pos").toPoint(), firstPos);
    QCOMPARE(storedSetting("scribeColor").toString(), QStringLiteral("#a4e16f"));

    // A colour that is no colour falls back to the default.
    QSettings(QStringLiteral("Pagewick"), QStringLiteral("size pos color"))
        .setValue(QStringLiteral("MainWindow/scribeColor"), QStringLiteral("not a colour"));
    ProbeWindow again;
    QCOMPARE(again.noteColor, QColor(QStringLiteral("#a4e16f")));
}

void TestMainWindow::noteColorKept()
{
    {
        ProbeWindow w;
        w.nextColor = QColor(QStringLiteral("#3366CC"));
        w.noteColorAction->trigger();
        QCOMPARE(w.noteColor, QColor(QStringLiteral("#3366cc")));
        // A cancelled dialog changes nothing; the dialog always starts on the default colour.
        w.nextColor = QColor();
        w.preference();
        QCOMPARE(w.noteColor, QColor(QStringLiteral("#3366cc")));
        QCOMPARE(w.colorDialogStarts, QVector<QColor>(2, QColor(QStringLiteral("#a4e16f"))));
        w.close();
    }
    QCOMPARE(storedSetting("scribeColor").toString(), QStringLiteral("#3366cc"));
    ProbeWindow next;
    QCOMPARE(next.noteColor, QColor(QStringLiteral("#3366cc")));
}

void TestMainWindow::pageColors_data()
{
    QTest::addColumn<QVariant>("stored");      // Reader/pageColors before the window opens
    QTest::addColumn<bool>("darkPalette");     // the application's palette
    QTest::addColumn<QString>("checked");      // the choice the menu shows
    QTest::addColumn<bool>("dark");            // pages shown dark

    QTest::newRow("absent") << QVariant() << false << "book" << false;
    QTest::newRow("book") << QVariant(QStringLiteral("book")) << true << "book" << false;
    QTest::newRow("dark") << QVariant(QStringLiteral("dark")) << false << "dark" << true;
    QTest::newRow("window, light") << QVariant(QStringLiteral("window")) << false << "window" << false;
    QTest::newRow("window, dark") << QVariant(QStringLiteral("window")) << true << "window" << true;
    QTest::newRow("unknown value") << QVariant(QStringLiteral("sepia")) << true << "book" << false;
}

void TestMainWindow::pageColors()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, darkPalette);
    QFETCH(QString, checked);
    QFETCH(bool, dark);
    const QString key = QStringLiteral("Reader/pageColors");
    if (stored.isValid())
        QSettings(QStringLiteral("Pagewick"), QStringLiteral("size pos color")).setValue(key, stored);
    // The window's palette comes from the reader's Appearance choice.
    const QPalette original = QApplication::palette();
    const auto restore = qScopeGuard([&original] { QApplication::setPalette(original); });
    QSettings(QStringLiteral("Pagewick"), QStringLiteral("size pos color"))
        .setValue(QStringLiteral("Reader/appearance"), darkPalette ? QStringLiteral("dark") : QStringLiteral("light"));

    const auto choiceOf = [](QMenu* menu) {
        for (QAction* action : menu->actions()) {
            if (action->isChecked())
                return action->data().toString();
        }
        return QString();
    };
    ProbeWindow w;
    QCOMPARE(w.pageColorsMenu()->title(), QStringLiteral("Page Colors"));
    QCOMPARE(w.pageColorsMenu()->actions().size(), 3);
    QCOMPARE(choiceOf(w.pageColorsMenu()), checked);
    QCOMPARE(w.pageView()->darkPages(), dark);
    // Opening a window stores nothing.
    QCOMPARE(QSettings(QStringLiteral("Pagewick"), QStringLiteral("size pos color")).value(key), stored);

    // "Follow the Window" follows the palette as it changes.
    if (checked == QLatin1String("window")) {
        w.appearance->setChoice(Appearance::Choice::Light);
        QTRY_COMPARE(w.pageView()->darkPages(), false);
        w.appearance->setChoice(darkPalette ? Appearance::Choice::Dark : Appearance::Choice::Light);
        QTRY_COMPARE(w.pageView()->darkPages(), darkPalette);
    }

    // Each choice takes effect at once and is remembered for the next window.
    for (QAction* action : w.pageColorsMenu()->actions()) {
        action->trigger();
        const QString value = action->data().toString();
        QCOMPARE(QSettings(QStringLiteral("Pagewick"), QStringLiteral("size pos color")).value(key).toString(), value);
        const bool nowDark = value == QLatin1String("dark") || (value == QLatin1String("window") && darkPalette);
        QCOMPARE(w.pageView()->darkPages(), nowDark);
        ProbeWindow next;
        QCOMPARE(choiceOf(next.pageColorsMenu()), value);
        QCOMPARE(next.pageView()->darkPages(), nowDark);
    }
}

void TestMainWindow::geometryOnlyWhenNormal_data()
{
    QTest::addColumn<bool>("fullScreen");
    QTest::newRow("maximised") << false;
    QTest::newRow("full screen") << true;
}

void TestMainWindow::geometryOnlyWhenNormal()
{
    QFETCH(bool, fullScreen);
    {
        ProbeWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.resize(640, 420);
        w.move(80, 90);
        QTRY_COMPARE(w.normalSize, QSize(640, 420));
        QTRY_COMPARE(w.normalPos, QPoint(80, 90));

        if (fullScreen)
            w.fullScreen();
        else
            w.showMaximized();
        // Both change the position as well as the size.
        QTRY_VERIFY(w.size() != QSize(640, 420));
        QTRY_VERIFY(w.pos() != QPoint(80, 90));
        QTest::qWait(50);
        QCOMPARE(w.normalSize, QSize(640, 420));
        QCOMPARE(w.normalPos, QPoint(80, 90));
        w.close();
    }
    QCOMPARE(storedSetting("size").toSize(), QSize(640, 420));
    QCOMPARE(storedSetting("pos").toPoint(), QPoint(80, 90));

    ProbeWindow next;
    QCOMPARE(next.size(), QSize(640, 420));
    QCOMPARE(next.pos(), QPoint(80, 90));
    QCOMPARE(next.windowState(), Qt::WindowNoState);
}

// ---------------------------------------------------------------------------------------------
// The last place, and the link to the page shown

void TestMainWindow::lastPlace_data()
{
    QTest::addColumn<QString>("between");   // what happens between the two runs
    QTest::addColumn<QString>("reopened");  // the page the second run ends on

    QTest::newRow("restart") << "" << "/html/dialogs/options.htm";
    QTest::newRow("another book at the same path") << "replace" << "/index.htm";
    QTest::newRow("setting turned off") << "off" << "/index.htm";
    QTest::newRow("page no longer in the book") << "gone" << "/index.htm";
}

void TestMainWindow::lastPlace()
{
    QFETCH(QString, between);
    QFETCH(QString, reopened);

    const QString path = copyBook(testBookPath("contexts.chm"));
    {
        ProbeWindow w;
        QSignalSpy reported(w.view, &ViewWidget::urlToFavorites);
        w.setStartTopic("/html/dialogs/options.htm", std::nullopt);
        w.loadBook(path);
        w.show();
        QVERIFY(showsPage(reported, "/html/dialogs/options.htm"));
        w.view->findChild<QWebEngineView*>()->page()->runJavaScript(QStringLiteral("window.scrollTo(0, 600)"));
        QTRY_COMPARE(w.view->scrollPosition().value_or(QPoint()).y(), 600);
        if (between == QLatin1String("off")) {   // as the reader does it, in the Open menu
            w.fillOpenMenu(w.openMenu);
            QAction* setting = w.openMenu->actions().constLast();
            QVERIFY(setting->isChecked());
            setting->trigger();
        }
        QVERIFY(w.close());
    }
    QSettings settings(QStringLiteral("Pagewick"), QStringLiteral("size pos color"));
    if (between == QLatin1String("replace")) {   // a new edition with the same pages
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::copy(testBookPath("contexts.chm"), path));
        QFile copy(path);
        QVERIFY(copy.open(QIODevice::ReadWrite));
        QVERIFY(copy.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
    } else if (between == QLatin1String("gone")) {
        LastPlaces::remember(settings, path, {QStringLiteral("/gone.htm"), QPoint(0, 600)});
    }

    ProbeWindow w;
    QSignalSpy reported(w.view, &ViewWidget::urlToFavorites);
    w.loadBook(path);
    w.show();
    QVERIFY(showsPage(reported, reopened));
    QTest::qWait(500);   // a page that followed the home page would have loaded by now
    QCOMPARE(reported.constLast().at(0).toString(), reopened);
    QCOMPARE(w.notice(), QString());
    if (between.isEmpty()) {
        QTRY_COMPARE(w.view->scrollPosition().value_or(QPoint()).y(), 600);
        QCOMPARE(reported.constFirst().at(0).toString(), QStringLiteral("/index.htm"));
        reported.clear();
        w.back();   // back leads to the home page
        QVERIFY(showsPage(reported, "/index.htm"));
    }
}

void TestMainWindow::lastPlacesKeepTheNewest()
{
    QTemporaryDir dir;
    QStringList books;
    for (int i = 0; i <= LastPlaces::kMaxBooks + 1; ++i) {
        books << dir.filePath(QStringLiteral("%1.chm").arg(i));
        QFile file(books.constLast());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("x") == 1);
    }
    QSettings settings(QStringLiteral("Pagewick"), QStringLiteral("size pos color"));
    for (int i = 0; i < LastPlaces::kMaxBooks; ++i)
        LastPlaces::remember(settings, books.at(i), {QStringLiteral("/p.htm"), QPoint(0, i)});
    LastPlaces::remember(settings, books.at(0), {QStringLiteral("/p.htm"), QPoint(0, 0)});   // used again
    LastPlaces::remember(settings, books.at(LastPlaces::kMaxBooks), {QStringLiteral("/p.htm"), QPoint(0, 1)});
    QVERIFY(LastPlaces::find(settings, books.at(0)));
    QVERIFY(!LastPlaces::find(settings, books.at(1)));   // the least recently used went
    QCOMPARE(LastPlaces::find(settings, books.at(2)).value_or(LastPlaces::Place()).scroll, QPoint(0, 2));
    QVERIFY(LastPlaces::find(settings, books.at(LastPlaces::kMaxBooks)));
    QVERIFY(!LastPlaces::find(settings, books.at(LastPlaces::kMaxBooks + 1)));
}

void TestMainWindow::copyLinkRoundTrip()
{
    // A folder name with a '%' and a space: the link decodes to it once, and to nothing else.
    const QString path = copyBook(testBookPath("contexts.chm"), QStringLiteral("100% sure/My Book.chm"));
    const QString page = QStringLiteral("/html/dialogs/options.htm#advanced");
    QString link;
    {
        ProbeWindow w;
        QSignalSpy reported(w.view, &ViewWidget::urlToFavorites);
        w.setStartTopic(page, std::nullopt);
        w.loadBook(path);
        w.show();
        QVERIFY(showsPage(reported, page));
        w.copyLink();
        link = QApplication::clipboard()->text();
        QVERIFY(w.close());
    }
    QCOMPARE(link, QString(path).replace(QLatin1Char('%'), QLatin1String("%25")) + QStringLiteral("::") + page);
    const StartRequest request = parseCommandLine({link});
    QCOMPARE(request.bookPath, path);
    QCOMPARE(request.topic, page);

    ProbeWindow w;
    QSignalSpy reported(w.view, &ViewWidget::urlToFavorites);
    w.setStartTopic(request.topic, request.context);
    w.loadBook(request.bookPath);
    w.show();
    QVERIFY(showsPage(reported, page));
}

// ---------------------------------------------------------------------------------------------
// The frame: menu bar and keys, dock, tool bar, where the window opens, colours

void TestMainWindow::menuBar_data()
{
    QTest::addColumn<QStringList>("entries");   // "text key", in order, separators left out
    QTest::newRow("File") << QStringList{"Open… Ctrl+O", "Open Recent ", "Print Preview ", "Print… Ctrl+P", "Export Book as PDF… ",
                                         "Save As… Ctrl+S", "Extract… ", "Quit Ctrl+Q"};
    QTest::newRow("Edit") << QStringList{"Copy Ctrl+C", "Select All Ctrl+A", "Find in Page… Ctrl+F"};
    QTest::newRow("View") << QStringList{"Panels F9", "Zoom In Ctrl++", "Zoom Out Ctrl+-", "Actual Size Ctrl+0",
                                         "Full Screen F11", "Tool Bar ", "Menu Bar Ctrl+M", "Appearance ", "Page Colors "};
    QTest::newRow("Go") << QStringList{"Back Alt+Left", "Forward Alt+Right", "Home Alt+Home"};
    QTest::newRow("Notes") << QStringList{"Note ", "Erase ", "Note Color… ", "Add Bookmark Ctrl+D"};
    QTest::newRow("Help") << QStringList{"Pagewick Help F1", "About Pagewick "};
}

void TestMainWindow::menuBar()
{
    QFETCH(QStringList, entries);
    ProbeWindow w;
    QStringList titles, shown;
    for (const QAction* title : w.menuBar()->actions())
        titles << title->text().remove(QLatin1Char('&'));
    QCOMPARE(titles, QStringList({"File", "Edit", "View", "Go", "Notes", "Help"}));
    for (const QAction* entry : w.menuBar()->actions().at(titles.indexOf(QTest::currentDataTag()))->menu()->actions()) {
        if (!entry->isSeparator())
            shown << entry->text().remove(QLatin1Char('&')) + QLatin1Char(' ') + entry->shortcut().toString();
    }
    QCOMPARE(shown, entries);
}

void TestMainWindow::menuKeys_data()
{
    menuBar_data();
}

// Every key of a menu triggers its entry once, with the focus in the page, the contents or the
// find bar (a key bound twice, by the view as well, say, would fire neither); only the editing
// keys of the find bar's field stay the field's.
void TestMainWindow::menuKeys()
{
    const QString path = copyBook(testBookPath("english.chm"));
    ProbeWindow w;
    QSignalSpy reported(w.view, &ViewWidget::urlToFavorites);
    w.loadBook(path);
    w.show();
    QVERIFY(showsPage(reported, "/index.htm"));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    // The commands would open dialogs, start processes or close the window: the spy stands in
    // for them. Entries still trigger the actions they stand for.
    for (QAction* any : w.findChildren<QAction*>()) {
        QObject::disconnect(any, &QAction::triggered, &w, nullptr);
        any->setEnabled(true);
    }
    const QList<QKeySequence> fieldKeys = QKeySequence::keyBindings(QKeySequence::Copy) + QKeySequence::keyBindings(QKeySequence::SelectAll);
    QWidget* page = w.view->findChild<QWebEngineView*>()->focusProxy();
    const int menu = QStringList({"File", "Edit", "View", "Go", "Notes", "Help"}).indexOf(QTest::currentDataTag());
    for (QAction* entry : w.menuBar()->actions().at(menu)->menu()->actions()) {
        for (const QKeySequence& key : entry->shortcuts()) {
            for (const QString& place : {QStringLiteral("page"), QStringLiteral("contents"), QStringLiteral("find bar")}) {
                w.panelDock->show();
                if (place == QLatin1String("find bar"))
                    w.view->findInPage();
                else
                    (place == QLatin1String("page") ? page : static_cast<QWidget*>(w.contentsWidget->tree()))->setFocus();
                QWidget* focus = QApplication::focusWidget();
                QVERIFY(place == QLatin1String("find bar") ? bool(qobject_cast<QLineEdit*>(focus))
                                                           : focus == page || focus == w.contentsWidget->tree());
                QSignalSpy triggered(entry, &QAction::triggered);
                QTest::keyClick(focus, key[0].key(), key[0].keyboardModifiers());
                QTest::qWait(30);
                const bool kept = place == QLatin1String("find bar") && fieldKeys.contains(key);
                QVERIFY2(triggered.size() == (kept ? 0 : 1), qPrintable(place + QLatin1Char(' ') + key.toString()));
            }
        }
    }
}

// The dock starts at 231 pixels with every tab in view, is dragged wider, up to half the
// window, and comes back at its width.
void TestMainWindow::dockWidensAndIsRemembered()
{
    {
        ProbeWindow w;
        w.resize(1000, 700);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_COMPARE(w.panelDock->width(), 231);
        w.showIndex(1);
        const QTabBar* tabs = w.panelTabs->tabBar();
        QCOMPARE(tabs->count(), 4);
        QTRY_VERIFY(tabs->tabRect(3).right() < tabs->width());
        for (int i = 0; i < 4; ++i)
            QVERIFY(tabs->tabRect(i).width() >= tabs->fontMetrics().horizontalAdvance(tabs->tabText(i)));
        for (const QToolButton* arrow : tabs->findChildren<QToolButton*>())
            QVERIFY(!arrow->isVisible());

        // A drag of the edge between the dock and the page.
        const auto drag = [&w](int by) {
            const QPoint grip(w.panelDock->geometry().right() + 1, w.panelDock->geometry().center().y());
            QTest::mousePress(&w, Qt::LeftButton, {}, grip);
            QMouseEvent move(QEvent::MouseMove, grip + QPoint(by, 0), w.mapToGlobal(grip + QPoint(by, 0)), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&w, &move);
            QTest::qWait(50);   // the window moves its separator on a timer
            QTest::mouseRelease(&w, Qt::LeftButton, {}, grip + QPoint(by, 0));
        };
        drag(600);
        QTRY_COMPARE(w.panelDock->width(), 500);
        drag(-100);
        QTRY_COMPARE(w.panelDock->width(), 400);
        w.close();
    }
    ProbeWindow next;
    next.show();
    QVERIFY(QTest::qWaitForWindowExposed(&next));
    QTRY_COMPARE(next.panelDock->width(), 400);
}

// At the first-run size of a 1280x900 screen every tool bar button shows; the tool bar's
// style and a hidden menu bar are kept, and the page menu then offers the menu bar back.
void TestMainWindow::toolBarAndMenuBarChoicesKept()
{
    {
        ProbeWindow w;
        w.resize(960, 675);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.toolBar->toolButtonStyle(), Qt::ToolButtonIconOnly);
        for (QAction* action : w.toolBar->actions())
            QVERIFY2(action->isSeparator() || w.toolBar->widgetForAction(action)->isVisible(), qPrintable(action->text()));
        menuEntryNamed(w, "View", "Tool Bar")->menu()->actions().at(1)->trigger();
        w.menuBarAction->trigger();
        w.close();
    }
    ProbeWindow next;
    next.show();
    QVERIFY(QTest::qWaitForWindowExposed(&next));
    QCOMPARE(next.toolBar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    QVERIFY(menuEntryNamed(next, "View", "Tool Bar")->menu()->actions().at(1)->isChecked());
    QVERIFY(!next.menuBar()->isVisible());
    QTest::mouseClick(next.view, Qt::RightButton, {}, QPoint(20, 20));
    QCOMPARE(next.menus.constFirst().constLast(), next.showMenuBarAction);
    next.showMenuBarAction->trigger();
    QVERIFY(next.menuBar()->isVisible() && next.menuBarAction->isChecked());
}

void TestMainWindow::windowGeometry_data()
{
    QTest::addColumn<QVariant>("size");   // stored, or none
    QTest::addColumn<QVariant>("pos");
    QTest::addColumn<QList<QRect>>("screens");
    QTest::addColumn<QRect>("expected");
    const QVariant none;
    const QList<QRect> small{QRect(0, 0, 1280, 900)};
    const QList<QRect> two{QRect(0, 0, 1280, 900), QRect(1280, 0, 1920, 1080)};
    QTest::newRow("first run 1280x900") << none << none << small << QRect(160, 112, 960, 675);
    QTest::newRow("first run 3840x2160") << none << none << QList<QRect>{QRect(0, 0, 3840, 2160)} << QRect(480, 270, 2880, 1620);
    QTest::newRow("first run, panel at top") << none << none << QList<QRect>{QRect(0, 32, 1280, 868)} << QRect(160, 140, 960, 651);
    QTest::newRow("stored size, centred") << QVariant(QSize(700, 500)) << none << small << QRect(290, 200, 700, 500);
    QTest::newRow("stored, on screen") << QVariant(QSize(640, 420)) << QVariant(QPoint(80, 90)) << small << QRect(80, 90, 640, 420);
    QTest::newRow("stored, partly off") << QVariant(QSize(700, 500)) << QVariant(QPoint(-300, 600)) << small << QRect(-300, 600, 700, 500);
    QTest::newRow("stored, second screen") << QVariant(QSize(700, 500)) << QVariant(QPoint(2000, 100)) << two << QRect(2000, 100, 700, 500);
    QTest::newRow("second screen gone") << QVariant(QSize(700, 500)) << QVariant(QPoint(2000, 100)) << small << QRect(580, 100, 700, 500);
    QTest::newRow("above the screen") << QVariant(QSize(700, 500)) << QVariant(QPoint(100, -400)) << small << QRect(100, 0, 700, 500);
    QTest::newRow("gone, larger than the screen") << QVariant(QSize(2000, 1200)) << QVariant(QPoint(3000, 50)) << small << QRect(0, 0, 1280, 900);
}

void TestMainWindow::windowGeometry()
{
    QFETCH(QVariant, size);
    QFETCH(QVariant, pos);
    QFETCH(QList<QRect>, screens);
    QFETCH(QRect, expected);
    QCOMPARE(chooseWindowGeometry(size.isValid() ? std::optional(size.toSize()) : std::nullopt,
                                  pos.isValid() ? std::optional(pos.toPoint()) : std::nullopt, screens),
             expected);
}

void TestMainWindow::paletteFollowsTheDesktop_data()
{
    QTest::addColumn<int>("choice");        // Appearance::Choice
    QTest::addColumn<QVariant>("scheme");   // the portal's value, as the bus delivers it
    QTest::addColumn<bool>("dark");
    QTest::newRow("system, dark") << 0 << QVariant::fromValue(QDBusVariant(1u)) << true;
    QTest::newRow("system, read twice wrapped") << 0 << QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(1u)))) << true;
    QTest::newRow("system, light") << 0 << QVariant::fromValue(QDBusVariant(2u)) << false;
    QTest::newRow("system, not a number") << 0 << QVariant::fromValue(QDBusVariant(QStringLiteral("dark"))) << false;
    QTest::newRow("light, desktop dark") << 1 << QVariant::fromValue(QDBusVariant(1u)) << false;
    QTest::newRow("dark, desktop light") << 2 << QVariant::fromValue(QDBusVariant(2u)) << true;
}

void TestMainWindow::paletteFollowsTheDesktop()
{
    QFETCH(int, choice);
    QFETCH(QVariant, scheme);
    QFETCH(bool, dark);
    {
        ProbeWindow w;
        w.appearance->setChoice(Appearance::Choice(choice));
        QVERIFY(QMetaObject::invokeMethod(w.appearance, "portalSettingChanged", Q_ARG(QString, "org.freedesktop.appearance"),
                                          Q_ARG(QString, "color-scheme"), Q_ARG(QDBusVariant, scheme.value<QDBusVariant>())));
        w.showNotice(QStringLiteral("A notice"));
        QCOMPARE(w.palette().color(QPalette::Window).lightness() < 128, dark);
        QCOMPARE(w.noticeLabel->palette().color(QPalette::ToolTipBase).lightness() < 128, dark);
    }
    // The choice is kept; a new window starts light until the desktop says otherwise.
    ProbeWindow next;
    QCOMPARE(int(next.appearance->choice()), choice);
    QCOMPARE(next.appearance->isDark(), choice == 2);
    next.appearance->setChoice(Appearance::Choice::System);
}

int main(int argc, char** argv)
{
    prepareBrowserControl();
    QApplication app(argc, argv);
    // Never the reader's own settings.
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDirPath());
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

// A chapter's print preview shows one sheet for each page of the chapter's PDF as exported,
// and takes its temporary PDF away when it closes.
void TestMainWindow::chapterPreview()
{
    constexpr int kExportTimeoutMs = 180000;
    const QString path = copyBook(QStringLiteral(PAGEWICK_HELP_BOOK), QStringLiteral("Help.chm"));
    ProbeWindow w;
    w.loadBook(path);
    w.show();
    QTRY_VERIFY_WITH_TIMEOUT(!w.outlinePending, kLoadTimeoutMs);
    const int chapter = 1;   // "Reading a Book" and the four entries under it
    QVERIFY(w.contents.size() > chapter + 4);

    const QString exported = m_books.filePath(QStringLiteral("chapter.pdf"));
    std::optional<bool> exportedOk;
    w.runExport(chapter, exported, QPrinter(QPrinter::HighResolution).pageLayout(),
                [&exportedOk](bool ok, const QString&) { exportedOk = ok; });
    QTRY_VERIFY_WITH_TIMEOUT(exportedOk.has_value(), kExportTimeoutMs);
    QVERIFY(*exportedOk);
    QPdfDocument pdf;
    QCOMPARE(pdf.load(exported), QPdfDocument::Error::None);
    QVERIFY(pdf.pageCount() > 1);

    // Temporary files go to a folder of the test's own while the preview is made.
    const QDir temporary(m_books.filePath(QStringLiteral("tmp")));
    QVERIFY(temporary.mkpath(QStringLiteral(".")));
    const QByteArray tmpdir = qgetenv("TMPDIR");
    qputenv("TMPDIR", temporary.path().toLocal8Bit());
    const auto restore = qScopeGuard([&tmpdir] { tmpdir.isNull() ? qunsetenv("TMPDIR") : qputenv("TMPDIR", tmpdir); });
    int sheets = -1;
    QStringList temporaryWhileShown;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* preview = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        auto* sheetsShown = preview ? preview->findChild<QPrintPreviewWidget*>() : nullptr;
        if (sheetsShown && sheetsShown->pageCount() > 0) {
            sheets = sheetsShown->pageCount();
            temporaryWhileShown = temporary.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
            preview->close();
        }
    });
    poll.start(50);
    w.previewBook(chapter);
    QTRY_VERIFY_WITH_TIMEOUT(sheets >= 0, kExportTimeoutMs);
    QCOMPARE(sheets, pdf.pageCount());
    QVERIFY(w.messages.isEmpty());
    QCOMPARE(temporaryWhileShown.size(), 1);
    QTRY_VERIFY(temporary.entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

#include "tst_mainwindow.moc"

#include "mainwindow.h"

#include "extractdialog.h"

#include "contentswidget.h"
#include "favoriteswidget.h"
#include "lchmfile.h"
#include "searchwidget.h"
#include "textindex.h"
#include "viewwidget.h"

#include <QAction>
#include <QCloseEvent>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QDockWidget>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QSettings>
#include <QStringList>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>

#include <algorithm>

namespace {

const char* const kDefaultNoteColor = "#a4e16f";

// Tabs with less room beside their titles: the panel dock is at most 231 pixels wide, and the
// titles "Contents", "Search" and "Bookmarks" should all stay readable in it, without scroll
// arrows.
class CompactTabStyle : public QProxyStyle
{
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        const int value = QProxyStyle::pixelMetric(metric, option, widget);
        return metric == PM_TabBarTabHSpace ? std::min(value, 12) : value;
    }
};

QSettings openSettings()
{
    return QSettings(QStringLiteral("Pagewick"), QStringLiteral("size pos color"));
}

} // namespace

MainWindow::MainWindow() : QMainWindow(nullptr), noteColor(QString::fromLatin1(kDefaultNoteColor))
{
    contentsWidget = new ContentsWidget(this);
    searchWidget = new SearchWidget(this);
    favoritesWidget = new FavoritesWidget(this);

    panelDock = new QDockWidget(tr("Navigation Panels"), this);
    panelDock->setObjectName(QStringLiteral("panelDock"));
    panelDock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    panelDock->setMaximumWidth(231);
    panelTabs = new QTabWidget(panelDock);
    auto* tabStyle = new CompactTabStyle;
    tabStyle->setParent(panelTabs->tabBar());
    panelTabs->tabBar()->setStyle(tabStyle);

    view = new ViewWidget(this);
    view->installEventFilter(this);
    setCentralWidget(view);

    connect(this, &MainWindow::contentChanged, contentsWidget, &ContentsWidget::setCurrentContents);
    connect(this, &MainWindow::homeUrlChanged, view, &ViewWidget::setCurrentPage);
    connect(this, &MainWindow::homeUrlChanged, view, &ViewWidget::setHomeUrl);
    connect(view, &ViewWidget::canNote, this, &MainWindow::setNoteDisable);
    connect(contentsWidget, &ContentsWidget::currentUrlChanged, view, &ViewWidget::setCurrentPage);
    connect(searchWidget, &SearchWidget::noTopicSearched, view, &ViewWidget::tellAboutThis);
    connect(searchWidget, &SearchWidget::currentUrlChanged, view, &ViewWidget::setCurrentPageBySearch);
    connect(favoritesWidget, &FavoritesWidget::currentUrlChanged, view, &ViewWidget::setCurrentPage);
    connect(view, &ViewWidget::urlToFavorites, favoritesWidget, &FavoritesWidget::setViewURL);
    connect(view, &ViewWidget::topicToFavorites, favoritesWidget, &FavoritesWidget::setViewTopic);

    readSettings();
    createActions();
    createToolBar();

    setWindowIcon(QIcon(QStringLiteral(":/images/Icon.png")));
    setWindowTitle(tr("Pagewick 1.0"));
}

MainWindow::~MainWindow() = default;

QAction* MainWindow::makeAction(const char* iconName, const QString& text, const QString& iconText,
                                const QString& toolTip)
{
    auto* action = new QAction(QIcon(QStringLiteral(":/images/") + QLatin1String(iconName)), text, this);
    action->setIconText(iconText);
    if (!toolTip.isNull())
        action->setToolTip(toolTip);
    return action;
}

void MainWindow::createActions()
{
    backAction = makeAction("Back.png", tr("Back"), QStringLiteral("  Back  "), tr("Go back"));
    connect(backAction, &QAction::triggered, this, &MainWindow::back);

    forwardAction = makeAction("Forward.png", tr("Forward"), QStringLiteral("Forward"), tr("Go Forward"));
    connect(forwardAction, &QAction::triggered, this, &MainWindow::forward);

    homeAction = makeAction("Home.png", tr("Home"), QStringLiteral("  Home  "), tr("Go home page"));
    connect(homeAction, &QAction::triggered, this, &MainWindow::home);

    zoomInAction = makeAction("ZoomIn.png", tr("Zoom In"), QStringLiteral("Zoom In"), tr("Zoom In current page"));
    connect(zoomInAction, &QAction::triggered, this, &MainWindow::zoomIn);

    zoomOutAction = makeAction("ZoomOut.png", tr("Zoom Out"), QStringLiteral("Zoom Out"), tr("Zoom Out current page"));
    connect(zoomOutAction, &QAction::triggered, this, &MainWindow::zoomOut);

    fullScreenAction = makeAction("FullScreen.png", tr("FullScreen"), QStringLiteral("FullScreen"), tr("Full Screen"));
    fullScreenAction->setCheckable(true);
    connect(fullScreenAction, &QAction::triggered, this, &MainWindow::fullScreen);

    printAction = makeAction("Print.png", tr("Print"), QStringLiteral("  Print  "), tr("Print current page "));
    connect(printAction, &QAction::triggered, this, &MainWindow::print);

    printPreviewAction = makeAction("PrintPreview.png", tr("PrintPreview"), QStringLiteral("Print preview"),
                                    tr("Preview current page before print"));
    connect(printPreviewAction, &QAction::triggered, this, &MainWindow::printPreview);

    saveAsAction = makeAction("SaveAs.png", tr("Save current page as..."), QStringLiteral("Save As"),
                              tr("Save current page as..."));
    connect(saveAsAction, &QAction::triggered, this, &MainWindow::saveAs);

    extractAction = makeAction("Extract.png", tr("Extract current chm file"), QStringLiteral("Extract"),
                               tr("Extract current chm file"));
    connect(extractAction, &QAction::triggered, this, &MainWindow::extract);

    copyAction = makeAction("Copy.png", tr("Copy"), QStringLiteral("  Copy  "), tr("Copy select text"));
    connect(copyAction, &QAction::triggered, this, &MainWindow::copy);

    noteAction = makeAction("Note.png", tr("Note"), QStringLiteral(" Note "),
                            tr("Make note on current selected words with highlight "));
    connect(noteAction, &QAction::triggered, this, &MainWindow::note);

    eraseAction = makeAction("unNote.png", tr("Erase"), QStringLiteral(" Erase "), tr("Erase all notes in current page"));
    connect(eraseAction, &QAction::triggered, this, &MainWindow::unNote);

    bookmarkAction = makeAction("BookMark.png", tr("Bookmark"), QStringLiteral("Bookmark"), tr("Bookmark current page"));
    connect(bookmarkAction, &QAction::triggered, this, &MainWindow::bookmark);

    quitAction = makeAction("Quit.png", tr("Quit"), QStringLiteral("  Quit  "), QString());
    connect(quitAction, &QAction::triggered, this, &QWidget::close);

    noteColorAction = makeAction("Colors.png", tr("Scribe color Preference..."), tr("Note Color"),
                                 tr("Note colors to choose"));
    connect(noteColorAction, &QAction::triggered, this, &MainWindow::preference);

    aboutAction = makeAction("About.png", tr("About Pagewick..."), QStringLiteral(" About "), QString());
    connect(aboutAction, &QAction::triggered, this, &MainWindow::about);
}

void MainWindow::createPanels()
{
    panelTabs->addTab(contentsWidget, tr("Contents"));
    panelTabs->addTab(searchWidget, tr("Search"));
    panelTabs->addTab(favoritesWidget, tr("Bookmarks"));
    panelTabs->setCurrentWidget(contentsWidget);
    panelDock->setWidget(panelTabs);
    addDockWidget(Qt::LeftDockWidgetArea, panelDock);

    QAction* toggle = panelDock->toggleViewAction();
    toggle->setIcon(QIcon(QStringLiteral(":/images/TOC.png")));
    toggle->setIconText(QStringLiteral(" Panels "));
    toggle->setStatusTip(tr("Navigation Panels"));
    toggle->setToolTip(tr("Navigation Panels"));
    toolBar->addAction(toggle);
}

void MainWindow::createToolBar()
{
    toolBar = addToolBar(tr("ToolBar"));
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setMovable(false);
    toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar->setIconSize(QSize(16, 16));

    createPanels();
    toolBar->addAction(backAction);
    toolBar->addAction(forwardAction);
    toolBar->addAction(homeAction);
    toolBar->addSeparator();
    toolBar->addAction(noteAction);
    toolBar->addAction(eraseAction);
    toolBar->addAction(zoomInAction);
    toolBar->addAction(zoomOutAction);
    toolBar->addAction(bookmarkAction);
    toolBar->addSeparator();
    toolBar->addAction(printPreviewAction);
    toolBar->addAction(printAction);
    toolBar->addAction(saveAsAction);
    toolBar->addAction(extractAction);
    toolBar->addAction(fullScreenAction);
    toolBar->addSeparator();
    toolBar->addAction(noteColorAction);
    toolBar->addAction(aboutAction);
}

void MainWindow::fillContextMenu(QMenu* menu) const
{
    menu->addAction(panelDock->toggleViewAction());
    menu->addAction(backAction);
    menu->addAction(forwardAction);
    menu->addAction(homeAction);
    menu->addSeparator();
    menu->addAction(copyAction);
    menu->addAction(noteAction);
    menu->addAction(eraseAction);
    menu->addAction(zoomInAction);
    menu->addAction(zoomOutAction);
    menu->addSeparator();
    menu->addAction(bookmarkAction);
    menu->addAction(saveAsAction);
    menu->addAction(printPreviewAction);
    menu->addAction(printAction);
    menu->addSeparator();
    menu->addAction(fullScreenAction);
    menu->addAction(quitAction);
}

// ---------------------------------------------------------------------------------------------
// Opening the book

void MainWindow::loadBook(const QString& path)
{
    {
        QFile probe(path);
        if (!probe.open(QIODevice::ReadOnly)) {
            unreadable = true;
            showMessage(QMessageBox::Warning, tr("Pagewick 1.0"), tr("Unknown error, file can not loading"));
            return;
        }
    }

    const QString fileName = QFileInfo(path).fileName();
    setWindowTitle(tr("Pagewick 1.0 ") + tr(" - [") + fileName + QStringLiteral("]"));
    bookPath = path;

    view->setBookPath(path);
    view->setNoteStore(&notes);
    searchWidget->setBookPath(path);

    loadContents();

    if (hasUserData())
        readUserData();
}

void MainWindow::loadContents()
{
    contents.clear();

    LCHMFile book;
    if (!book.openBook(bookPath)) {
        emit contentChanged(&contents);
        view->showBlank();
        QFile file(bookPath);
        if (file.open(QIODevice::ReadOnly)) {
            file.close();
            showMessage(QMessageBox::Critical, tr("Pagewick"),
                        tr("<p>%1 maybe locked for another application and can not be loaded.</p>"
                           "<p>close another application and reload again please</p>")
                            .arg(QFileInfo(bookPath).fileName()));
        }
        return;
    }

    // The contents are read before the home page is chosen: a book that names no default
    // topic opens on its first contents entry that leads somewhere, not on a page saying
    // that "/" is not in the book.
    book.parseContents(&contents);
    QString homePage = book.homePage();
    if (homePage.isEmpty() || homePage == QLatin1String("/")) {
        for (const LCHMParsedEntry& entry : std::as_const(contents)) {
            if (!entry.urls.isEmpty() && !entry.urls.constFirst().isEmpty()) {
                homePage = entry.urls.constFirst();
                break;
            }
        }
    }
    emit homeUrlChanged(homePage);
    emit contentChanged(&contents);

    // The Search tab stays when the book's full-text index lists words, whatever their
    // language, or when the book has HTML pages whose text the search panel can index.
    const bool searchable = book.hasSearchWords() || !TextIndex::htmlPages(book).isEmpty();
    book.closeBook();

    if (!searchable)
        panelTabs->removeTab(panelTabs->indexOf(searchWidget));
    if (contents.isEmpty())
        panelTabs->removeTab(panelTabs->indexOf(contentsWidget));
}

// ---------------------------------------------------------------------------------------------
// The reader's notes and bookmarks stored in the book file, and extraction.

bool MainWindow::hasUserData()
{
    userData.setBookPath(bookPath);
    userData.hasUserData();
    declaredLength = userData.declaredLength();
    userDataLength = userData.userDataLength();
    userDataPresent = userData.userDataPresent();
    // Only a real container carries a record; bytes behind anything else are not ours.
    return userDataPresent && userData.isContainer();
}

void MainWindow::readUserData()
{
    QStringList bookmarks;
    userData.readUserData(&notes, &bookmarks);  // a damaged record loads what is sound
    userDataBytes = userData.userDataBytes();
    favoritesWidget->setBookmarks(bookmarks);
}

void MainWindow::writeUserData()
{
    if (bookPath.isEmpty() || unreadable)
        return;
    userData.writeUserData(notes, favoritesWidget->bookmarks());
}

void MainWindow::extract()
{
    extractBookInteractively(this, bookPath);
}

// ---------------------------------------------------------------------------------------------
// Settings

void MainWindow::readSettings()
{
    QSettings settings = openSettings();
    settings.beginGroup(QStringLiteral("MainWindow"));
    resize(settings.value(QStringLiteral("size"), QSize(700, 500)).toSize());
    move(settings.value(QStringLiteral("pos"), QPoint(50, 50)).toPoint());
    // A hidden window gets its resize and move events only when shown, and then before its
    // tool bar is visible; the geometry applied here is its normal geometry all the same.
    normalSize = size();
    normalPos = pos();

    const QString defaultColor = tr(kDefaultNoteColor);
    noteColor = QColor(settings.value(QStringLiteral("scribeColor"), defaultColor).toString());
    if (!noteColor.isValid())
        noteColor = QColor(QString::fromLatin1(kDefaultNoteColor));
    view->setNoteColor(noteColor.name());
    settings.endGroup();
}

void MainWindow::writeSettings()
{
    QSettings settings = openSettings();
    settings.beginGroup(QStringLiteral("MainWindow"));
    settings.setValue(QStringLiteral("size"), normalSize);
    settings.setValue(QStringLiteral("pos"), normalPos);
    settings.setValue(QStringLiteral("scribeColor"), noteColor.name());
    settings.endGroup();
}

// ---------------------------------------------------------------------------------------------
// Commands

void MainWindow::back() { view->back(); }
void MainWindow::forward() { view->forward(); }
void MainWindow::home() { view->home(); }
void MainWindow::zoomIn() { view->zoomIn(); }
void MainWindow::zoomOut() { view->zoomOut(); }
void MainWindow::print() { view->print(); }
void MainWindow::printPreview() { view->printPreview(); }
void MainWindow::saveAs() { view->saveAs(); }
void MainWindow::copy() { view->copy(); }
void MainWindow::note() { view->note(&notes); }
void MainWindow::unNote() { view->unNote(&notes); }

void MainWindow::fullScreen()
{
    if (isFullScreen()) {
        toolBar->show();
        panelDock->setFloating(false);
        showNormal();
    } else {
        panelDock->hide();
        toolBar->hide();
        showFullScreen();
    }
}

void MainWindow::bookmark()
{
    if (panelDock->isHidden()) {
        panelDock->setFloating(false);
        panelDock->show();
    }
    favoritesWidget->add();
    panelTabs->setCurrentWidget(favoritesWidget);
}

void MainWindow::about()
{
    QMessageBox::about(this, tr("About Pagewick 1.0"),
                       tr("<h3>Pagewick 1.0</h3>"
                          "<p>A reader for Compiled HTML Help books (.chm).</p>"
                          "<p>Your bookmarks and notes are kept inside each book file, so they "
                          "travel with the book.</p>"));
}

void MainWindow::setNoteDisable(bool b)
{
    for (QAction* action : {backAction, forwardAction, homeAction, zoomOutAction, zoomInAction, saveAsAction,
                            copyAction, printPreviewAction, printAction, noteAction, eraseAction})
        action->setEnabled(b);
}

void MainWindow::preference()
{
    const QColor color = chooseColor(QColor(QString::fromLatin1(kDefaultNoteColor)));
    if (!color.isValid())
        return;
    noteColor = color;
    view->setNoteColor(noteColor.name());
    view->refresh();
}

// ---------------------------------------------------------------------------------------------
// Events

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != view)
        return false;
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::RightButton)
        return false;
    // The menu opens on the press; the release that ends the same click is swallowed, so one
    // click never opens the menu twice.
    if (event->type() == QEvent::MouseButtonPress) {
        const QPoint global = mouse->globalPosition().toPoint();
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, mapFromGlobal(global), global);
        contextMenuEvent(&menuEvent);
    }
    return true;
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    if (toolBar && !toolBar->isHidden() && windowState() == Qt::WindowNoState)
        normalPos = pos();
    event->accept();
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    if (toolBar && !toolBar->isHidden() && windowState() == Qt::WindowNoState)
        normalSize = size();
    event->accept();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    writeUserData();
    writeSettings();
    event->accept();
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu;
    fillContextMenu(&menu);
    popUpMenu(&menu, event->globalPos());
}

// ---------------------------------------------------------------------------------------------
// Dialogs

void MainWindow::showMessage(QMessageBox::Icon icon, const QString& title, const QString& text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, this);
    box.exec();
}

QColor MainWindow::chooseColor(const QColor& initial)
{
    return QColorDialog::getColor(initial, this);
}

void MainWindow::popUpMenu(QMenu* menu, const QPoint& globalPos)
{
    menu->exec(globalPos);
}

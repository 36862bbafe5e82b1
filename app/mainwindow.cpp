#include "mainwindow.h"

#include "extractdialog.h"

#include "appearance.h"
#include "backgroundrunner.h"
#include "contentswidget.h"
#include "favoriteswidget.h"
#include "indexwidget.h"
#include "lchmfile.h"
#include "readericons.h"
#include "readersettings.h"
#include "recentbooks.h"
#include "startup.h"
#include "searchwidget.h"
#include "viewwidget.h"
#include "windowgeometry.h"

#include <QAction>
#include <QCloseEvent>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QStringList>
#include <QTabBar>
#include <QTabWidget>
#include <QShortcut>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

namespace {

constexpr QLatin1String kDefaultNoteColor("#a4e16f");

// The local books among dropped URLs.
QStringList droppedBooks(const QMimeData* data)
{
    QStringList books;
    if (!data || !data->hasUrls())
        return books;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && isBookName(url.toLocalFile()))
            books.append(url.toLocalFile());
    }
    return books;
}

// Tab runs from the panels' tabs through the panel shown to the page and its find bar: the
// widgets inside each group that take the focus, in their own order, group after group (a
// widget in two groups goes with the first). A panel added to the tabs joins the chain at its
// end, so the chain is put in order again then.
void chainFocus(QWidget* window, std::initializer_list<QWidget*> groups)
{
    QList<QWidget*> order;
    for (QWidget* group : groups) {
        QWidget* widget = window;
        do {   // the chain is a ring through the window
            if ((widget == group || group->isAncestorOf(widget)) && !widget->focusProxy()
                && (widget->focusPolicy() & Qt::TabFocus) && !order.contains(widget))
                order << widget;
            widget = widget->nextInFocusChain();
        } while (widget && widget != window);
    }
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
}

} // namespace

MainWindow::MainWindow()
    : QMainWindow(nullptr), runner(std::make_unique<BackgroundRunner>()), noteColor(kDefaultNoteColor)
{
    contentsWidget = new ContentsWidget(this);
    searchWidget = new SearchWidget(runner.get(), this);
    favoritesWidget = new FavoritesWidget(this);
    indexWidget = new IndexWidget(runner.get(), this);
    indexWidget->hide();

    panelDock = new QDockWidget(tr("Navigation Panels"), this);
    panelDock->setObjectName(QStringLiteral("panelDock"));
    panelDock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    panelTabs = new QTabWidget(panelDock);
    fitTabsToDock();

    view = new ViewWidget(this);
    view->installEventFilter(this);
    setCentralWidget(view);

    connect(this, &MainWindow::contentChanged, contentsWidget, &ContentsWidget::setCurrentContents);
    connect(this, &MainWindow::homeUrlChanged, view, &ViewWidget::setCurrentPage);
    connect(this, &MainWindow::homeUrlChanged, view, &ViewWidget::setHomeUrl);
    connect(view, &ViewWidget::canNote, this, &MainWindow::setNoteEnabled);
    connect(view, &ViewWidget::historyChanged, this, &MainWindow::setHistoryEnabled);
    connect(contentsWidget, &ContentsWidget::currentUrlChanged, view, &ViewWidget::setCurrentPage);
    connect(searchWidget, &SearchWidget::noTopicSearched, view, &ViewWidget::tellAboutThis);
    connect(searchWidget, &SearchWidget::currentUrlChanged, view, &ViewWidget::setCurrentPageBySearch);
    connect(favoritesWidget, &FavoritesWidget::currentUrlChanged, view, &ViewWidget::setCurrentPage);
    connect(view, &ViewWidget::urlToFavorites, favoritesWidget, &FavoritesWidget::setViewURL);
    connect(view, &ViewWidget::topicToFavorites, favoritesWidget, &FavoritesWidget::setViewTopic);
    connect(indexWidget, &IndexWidget::currentUrlChanged, view, &ViewWidget::setCurrentPage);
    connect(view, &ViewWidget::pathShown, contentsWidget, &ContentsWidget::showPage);
    connect(indexWidget, &IndexWidget::indexLoaded, this, &MainWindow::showIndex);

    readSettings();
    createActions();
    createToolBar();
    initExport();
    createPageColorsMenu();

    appearance = new Appearance(this);
    createMenus();
    readFrameSettings();

    // Escape leaves full screen, where the tool bar is gone. Enabled only there, so that
    // Escape keeps its own meaning everywhere else.
    leaveFullScreenKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    leaveFullScreenKey->setEnabled(false);
    connect(leaveFullScreenKey, &QShortcut::activated, this, [this] {
        if (isFullScreen())
            fullScreenAction->trigger();
    });
    setAcceptDrops(true);

    setWindowIcon(ReaderIcons::icon(QStringLiteral("Icon")));
    setWindowTitle(tr("Pagewick 1.0"));
}

MainWindow::~MainWindow() = default;

QAction* MainWindow::makeAction(const char* iconName, const QString& text, const QString& iconText,
                                const QString& toolTip, void (MainWindow::*slot)())
{
    auto* action = new QAction(ReaderIcons::icon(QLatin1String(iconName)), text, this);
    action->setIconText(iconText);
    if (!toolTip.isNull())
        action->setToolTip(toolTip);
    if (slot)
        connect(action, &QAction::triggered, this, slot);
    return action;
}

void MainWindow::createActions()
{
    backAction = makeAction("Back", tr("Back"), QStringLiteral("  Back  "), tr("Go back"), &MainWindow::back);
    forwardAction = makeAction("Forward", tr("Forward"), QStringLiteral("Forward"), tr("Go Forward"),
                               &MainWindow::forward);
    homeAction = makeAction("Home", tr("Home"), QStringLiteral("  Home  "), tr("Go home page"), &MainWindow::home);
    zoomInAction = makeAction("ZoomIn", tr("Zoom In"), QStringLiteral("Zoom In"), tr("Zoom In current page"),
                              &MainWindow::zoomIn);
    zoomOutAction = makeAction("ZoomOut", tr("Zoom Out"), QStringLiteral("Zoom Out"), tr("Zoom Out current page"),
                               &MainWindow::zoomOut);
    fullScreenAction = makeAction("FullScreen", tr("FullScreen"), QStringLiteral("FullScreen"), tr("Full Screen"),
                                  &MainWindow::fullScreen);
    fullScreenAction->setCheckable(true);
    printAction = makeAction("Print", tr("Print"), QStringLiteral("  Print  "), tr("Print current page "),
                             &MainWindow::print);
    printPreviewAction = makeAction("PrintPreview", tr("PrintPreview"), QStringLiteral("Print preview"),
                                    tr("Preview current page before print"), &MainWindow::printPreview);
    saveAsAction = makeAction("SaveAs", tr("Save current page as..."), QStringLiteral("Save As"),
                              tr("Save current page as..."), &MainWindow::saveAs);
    extractAction = makeAction("Extract", tr("Extract current chm file"), QStringLiteral("Extract"),
                               tr("Extract current chm file"), &MainWindow::extract);
    copyAction = makeAction("Copy", tr("Copy"), QStringLiteral("  Copy  "), tr("Copy select text"), &MainWindow::copy);
    copyLinkAction = makeAction("Copy", tr("Copy Link to This Page"), tr("Copy Link"),
                                tr("Copy a link that opens this book at this page"), &MainWindow::copyLink);
    noteAction = makeAction("Note", tr("Note"), QStringLiteral(" Note "),
                            tr("Make note on current selected words with highlight "), &MainWindow::note);
    eraseAction = makeAction("unNote", tr("Erase"), QStringLiteral(" Erase "), tr("Erase all notes in current page"),
                             &MainWindow::unNote);
    bookmarkAction = makeAction("BookMark", tr("Bookmark"), QStringLiteral("Bookmark"), tr("Bookmark current page"),
                                &MainWindow::bookmark);
    quitAction = makeAction("Quit", tr("Quit"), QStringLiteral("  Quit  "), QString());
    connect(quitAction, &QAction::triggered, this, &QWidget::close);
    noteColorAction = makeAction("Colors", tr("Scribe color Preference..."), tr("Note Color"),
                                 tr("Note colors to choose"), &MainWindow::preference);
    aboutAction = makeAction("About", tr("About Pagewick..."), QStringLiteral(" About "), QString(), &MainWindow::about);

    openAction = makeAction("Open", tr("Open"), QStringLiteral("  Open  "), tr("Open another book in a new window"),
                            &MainWindow::openBook);
    openMenu = new QMenu(this);
    openMenu->setToolTipsVisible(true);
    connect(openMenu, &QMenu::aboutToShow, this, [this] { fillOpenMenu(openMenu); });
    openAction->setMenu(openMenu);

    helpAction = makeAction("Help", tr("Help"), QStringLiteral("  Help  "), tr("Open the user guide (F1)"),
                            &MainWindow::help);
}

void MainWindow::createPanels()
{
    panelTabs->addTab(contentsWidget, tr("Contents"));
    panelTabs->addTab(searchWidget, tr("Search"));
    panelTabs->addTab(favoritesWidget, tr("Bookmarks"));
    panelTabs->setCurrentWidget(contentsWidget);
    panelDock->setWidget(panelTabs);
    addDockWidget(Qt::LeftDockWidgetArea, panelDock);
    panelTabs->setAccessibleName(tr("Navigation Panels"));
    panelTabs->tabBar()->setAccessibleName(tr("Panels"));
    chainFocus(this, {panelTabs->tabBar(), panelTabs, view});

    QAction* toggle = panelDock->toggleViewAction();
    toggle->setIcon(ReaderIcons::icon(QStringLiteral("TOC")));
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
    toolBar->addSeparator();
    toolBar->addAction(openAction);
    toolBar->addAction(helpAction);
    // A click opens the file dialog; the arrow beside it lists the recent books.
    if (auto* button = qobject_cast<QToolButton*>(toolBar->widgetForAction(openAction)))
        button->setPopupMode(QToolButton::MenuButtonPopup);

    // Screen readers announce the buttons by their texts without the padding that spaces them
    // out under the icons, and the tool tips tell what each does.
    for (QAction* action : toolBar->actions()) {
        if (QWidget* button = toolBar->widgetForAction(action))
            button->setAccessibleName(action->iconText().trimmed());
    }
    if (auto* more = toolBar->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        more->setAccessibleName(tr("More tools"));
}

void MainWindow::fillContextMenu(QMenu* menu) const
{
    menu->addAction(panelDock->toggleViewAction());
    menu->addAction(backAction);
    menu->addAction(forwardAction);
    menu->addAction(homeAction);
    menu->addSeparator();
    menu->addAction(copyAction);
    menu->addAction(copyLinkAction);
    menu->addAction(noteAction);
    menu->addAction(eraseAction);
    menu->addAction(zoomInAction);
    menu->addAction(zoomOutAction);
    menu->addMenu(pageColors);
    menu->addSeparator();
    menu->addAction(bookmarkAction);
    menu->addAction(saveAsAction);
    menu->addAction(printPreviewAction);
    menu->addAction(printAction);
    menu->addSeparator();
    menu->addAction(fullScreenAction);
    menu->addAction(quitAction);
    menu->addSeparator();
    menu->addAction(openAction);
    menu->addAction(helpAction);
    if (!menuBarAction->isChecked()) {
        menu->addSeparator();
        menu->addAction(showMenuBarAction);
    }
}

// ---------------------------------------------------------------------------------------------
// Opening the book

void MainWindow::loadBook(const QString& path, bool inStages)
{
    {
        QFile probe(path);
        if (!probe.open(QIODevice::ReadOnly)) {
            unreadable = true;
            LCHMFile book;   // fails as the probe did, and says why
            book.openBook(path);
            showMessage(QMessageBox::Warning, tr("Pagewick 1.0"), tr("Unknown error, file can not loading"),
                        book.errorString());
            return;
        }
    }

    const QString fileName = QFileInfo(path).fileName();
    setWindowTitle(tr("Pagewick 1.0 ") + tr(" - [") + fileName + QStringLiteral("]"));
    bookPath = path;

    view->setBookPath(path);
    view->setNoteStore(&notes);
    searchWidget->setBookPath(path, true);

    loadContents(inStages);

    if (hasUserData())
        readUserData();
}

void MainWindow::loadContents(bool inStages)
{
    contents.clear();
    if (!inStages) {
        BookOutline outline = readBookOutline(bookPath);
        if (takeOpened(outline))
            showOutline(std::move(outline), true);
        return;
    }
    // The page is asked for as soon as the book is open, so the engine loads and draws it while
    // the worker reads the contents; a book that names no default topic waits for them.
    outlinePending = true;
    auto homeShown = std::make_shared<bool>(false);
    readBookOutlineInStages(
        *runner, this, bookPath,
        [this, homeShown](const BookOutline& head) {
            *homeShown = takeOpened(head) && !head.homePage.isEmpty();
            if (*homeShown)
                showStartPage(head.homePage);
        },
        [this, homeShown](BookOutline outline) {
            if (outline.opened)
                showOutline(std::move(outline), !*homeShown);
            outlinePending = false;
        });
}

bool MainWindow::takeOpened(const BookOutline& outline)
{
    if (!outline.opened) {
        emit contentChanged(&contents);
        view->showBlank();
        QFile file(bookPath);
        if (file.open(QIODevice::ReadOnly)) {
            file.close();
            showMessage(QMessageBox::Critical, tr("Pagewick"),
                        tr("<p>%1 maybe locked for another application and can not be loaded.</p>"
                           "<p>close another application and reload again please</p>")
                            .arg(QFileInfo(bookPath).fileName()),
                        outline.errorString);
        }
        return false;
    }
    bookOpened();
    return true;
}

void MainWindow::showOutline(BookOutline outline, bool showHomePage)
{
    contents = std::move(outline.contents);
    if (showHomePage)
        showStartPage(outline.homePage);
    emit contentChanged(&contents);

    if (!outline.searchable)
        panelTabs->removeTab(panelTabs->indexOf(searchWidget));
    if (contents.isEmpty())
        panelTabs->removeTab(panelTabs->indexOf(contentsWidget));
}

// The book opened: it joins the recent books, and its keyword index is read on a worker.
void MainWindow::bookOpened()
{
    RecentBooks::remember(bookPath);
    QSettings settings = readerSettings();
    readLastPlace(settings);
    indexWidget->loadBook(bookPath);
}

// The Index tab comes after Bookmarks, and only for a book whose index holds keywords.
void MainWindow::showIndex(int keywords)
{
    if (keywords > 0 && panelTabs->indexOf(indexWidget) < 0) {
        panelTabs->addTab(indexWidget, tr("Index"));
        chainFocus(this, {panelTabs->tabBar(), panelTabs, view});
    }
}

// ---------------------------------------------------------------------------------------------
// Other books: each opens in a process of its own.

void MainWindow::openBook()
{
    const QString path = chooseBookFile();
    if (!path.isEmpty())
        openInNewWindow(path);
}

void MainWindow::help()
{
    const QString guide = defaultBookPath(installedHelpBook(QCoreApplication::applicationDirPath()));
    if (!QFileInfo::exists(guide)) {
        showMessage(QMessageBox::Warning, tr("Pagewick"),
                    tr("The user guide (Help.chm) is not installed with this reader."));
        return;
    }
    openInNewWindow(guide);
}

void MainWindow::fillOpenMenu(QMenu* menu)
{
    menu->clear();
    const QStringList books = RecentBooks::load();
    int number = 0;
    for (const QString& path : books) {
        QString name = QFileInfo(path).fileName();
        name.replace(QLatin1Char('&'), QLatin1String("&&"));
        QAction* entry = menu->addAction(QStringLiteral("&%1  %2").arg(++number % 10).arg(name));
        entry->setToolTip(path);
        entry->setData(path);
        entry->setEnabled(QFileInfo::exists(path));
        connect(entry, &QAction::triggered, this, [this, path] { openInNewWindow(path); });
    }
    if (!books.isEmpty())
        menu->addSeparator();
    connect(menu->addAction(tr("Choose a book...")), &QAction::triggered, this, &MainWindow::openBook);
    menu->addSeparator();
    QAction* whereLeft = menu->addAction(tr("Open Books Where I Left Them"));
    whereLeft->setCheckable(true);
    QSettings settings = readerSettings();
    whereLeft->setChecked(LastPlaces::enabled(settings));
    connect(whereLeft, &QAction::toggled, this, [](bool on) {
        QSettings settings = readerSettings();
        LastPlaces::setEnabled(settings, on);
    });
}

void MainWindow::openInNewWindow(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    RecentBooks::remember(absolute);
    if (!startProcess(QCoreApplication::applicationFilePath(), {absolute}))
        showMessage(QMessageBox::Warning, tr("Pagewick"),
                    tr("<p>A new window for %1 could not be started.</p>").arg(QFileInfo(absolute).fileName().toHtmlEscaped()));
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedBooks(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event)
{
    const QStringList books = droppedBooks(event->mimeData());
    for (const QString& book : books)
        openInNewWindow(book);
    if (!books.isEmpty())
        event->acceptProposedAction();
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
    if (userData.stored() != BookUserData::Stored::Unreadable)
        return;

    const QString name = QFileInfo(bookPath).fileName();
    QString text = notes.isEmpty() && bookmarks.isEmpty()
        ? tr("The notes and bookmarks stored in %1 could not be read.").arg(name)
        : tr("Some of the notes and bookmarks stored in %1 could not be read; what could be read is shown.").arg(name);
    if (!userData.errorString().isEmpty())
        text += QStringLiteral(" (") + userData.errorString() + QStringLiteral(")");
    text += QStringLiteral("\n\n")
        + tr("The book keeps them as they are: closing it does not change them unless you choose to replace "
             "them with the notes and bookmarks of this session.");
    showMessage(QMessageBox::Warning, tr("Pagewick"), text);
}

bool MainWindow::writeUserData()
{
    if (bookPath.isEmpty() || unreadable)
        return true;
    const QStringList bookmarks = favoritesWidget->bookmarks();
    const QString name = QFileInfo(bookPath).fileName();

    if (userData.stored() == BookUserData::Stored::Unreadable) {
        if (userData.sameAsRead(notes, bookmarks))
            return true;   // nothing new: the record stays as it is
        const QMessageBox::StandardButton answer = askReader(
            QMessageBox::Warning, tr("Pagewick"),
            tr("The notes and bookmarks stored in %1 could not be read when it was opened, and the book still "
               "keeps them.\n\nReplace them with the notes and bookmarks of this session? The old ones are then "
               "lost for good. Keeping them closes the book without saving this session's notes and bookmarks.")
                .arg(name),
            {{QMessageBox::Yes, tr("Replace Them")}, {QMessageBox::No, tr("Keep Them")},
             {QMessageBox::Cancel, tr("Cancel")}});
        if (answer == QMessageBox::No)
            return true;
        if (answer != QMessageBox::Yes)
            return false;
        userData.setReplaceUnreadable(true);
    }

    while (!userData.writeUserData(notes, bookmarks)) {
        const QMessageBox::StandardButton answer = askReader(
            QMessageBox::Critical, tr("Pagewick"),
            tr("Your notes and bookmarks could not be saved in %1: %2.\n\nTry again, close without saving them "
               "(they are lost), or cancel to keep the book open.")
                .arg(name, userData.errorString()),
            {{QMessageBox::Retry, tr("Try Again")}, {QMessageBox::Discard, tr("Close Without Saving")},
             {QMessageBox::Cancel, tr("Cancel")}});
        if (answer != QMessageBox::Retry)
            return answer == QMessageBox::Discard;
    }
    return true;
}

void MainWindow::extract()
{
    extractBookInteractively(this, *runner, bookPath);
}

// ---------------------------------------------------------------------------------------------
// Settings

void MainWindow::readSettings()
{
    QSettings settings = readerSettings();
    settings.beginGroup(QStringLiteral("MainWindow"));
    const QVariant storedSize = settings.value(QStringLiteral("size"));
    const QVariant storedPos = settings.value(QStringLiteral("pos"));
    const QRect frame = chooseWindowGeometry(storedSize.isValid() ? std::optional(storedSize.toSize()) : std::nullopt,
                                             storedPos.isValid() ? std::optional(storedPos.toPoint()) : std::nullopt,
                                             availableScreenAreas());
    resize(frame.size());
    move(frame.topLeft());
    // A hidden window gets its resize and move events only when shown, and then before its
    // tool bar is visible; the geometry applied here is its normal geometry all the same.
    normalSize = size();
    normalPos = pos();

    noteColor = QColor(settings.value(QStringLiteral("scribeColor"), kDefaultNoteColor).toString());
    if (!noteColor.isValid())
        noteColor = QColor(kDefaultNoteColor);
    view->setNoteColor(noteColor.name());
    settings.endGroup();
}

void MainWindow::writeSettings()
{
    QSettings settings = readerSettings();
    settings.beginGroup(QStringLiteral("MainWindow"));
    settings.setValue(QStringLiteral("size"), normalSize);
    settings.setValue(QStringLiteral("pos"), normalPos);
    settings.setValue(QStringLiteral("scribeColor"), noteColor.name());
    settings.endGroup();
    writeFrameSettings(settings);
    keepLastPlace(settings);
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
    fullScreenAction->setChecked(isFullScreen());
    leaveFullScreenKey->setEnabled(isFullScreen());
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

void MainWindow::setNoteEnabled(bool enabled)
{
    // Back, forward and home follow the view's history instead: a failed load must not trap
    // the reader on it.
    for (QAction* action : {zoomOutAction, zoomInAction, saveAsAction, copyAction, printPreviewAction, printAction,
                            noteAction, eraseAction})
        action->setEnabled(enabled);
}

void MainWindow::setHistoryEnabled(bool canGoBack, bool canGoForward, bool canGoHome)
{
    backAction->setEnabled(canGoBack);
    forwardAction->setEnabled(canGoForward);
    homeAction->setEnabled(canGoHome);
}

void MainWindow::preference()
{
    const QColor color = chooseColor(QColor(kDefaultNoteColor));
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
    fitDockToWindow();
    event->accept();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!writeUserData()) {
        event->ignore();   // the reader stays with the notes not yet saved
        return;
    }
    writeSettings();
    runner->cancelAll();
    event->accept();
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event)
{
    // Shown without a loop of its own: the page's request for the menu comes from the page
    // engine, which answers nothing (the page's scroll position, zoom or selection that the
    // commands ask for) until that request returns.
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    fillContextMenu(menu);
    popUpMenu(menu, event->globalPos());
}

// ---------------------------------------------------------------------------------------------
// Dialogs

void MainWindow::showMessage(QMessageBox::Icon icon, const QString& title, const QString& text,
                             const QString& detail)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, this);
    box.setDetailedText(detail);
    box.exec();
}

QMessageBox::StandardButton MainWindow::askReader(QMessageBox::Icon icon, const QString& title, const QString& text,
                                                  const Choices& choices)
{
    QMessageBox box(icon, title, text, QMessageBox::NoButton, this);
    for (const auto& [button, label] : choices) {
        box.addButton(button)->setText(label);
        if (box.defaultButton() == nullptr)
            box.setDefaultButton(button);
    }
    box.exec();
    const QMessageBox::StandardButton chosen = box.standardButton(box.clickedButton());
    return chosen == QMessageBox::NoButton ? QMessageBox::Cancel : chosen;
}

QColor MainWindow::chooseColor(const QColor& initial)
{
    return QColorDialog::getColor(initial, this);
}

void MainWindow::popUpMenu(QMenu* menu, const QPoint& globalPos)
{
    menu->popup(globalPos);
}

QString MainWindow::chooseBookFile()
{
    const QString folder = bookPath.isEmpty() ? QString() : QFileInfo(bookPath).absolutePath();
    return QFileDialog::getOpenFileName(this, tr("Open a book"), folder, tr("Help books (*.chm *.CHM)"));
}

bool MainWindow::startProcess(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

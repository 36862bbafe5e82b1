#pragma once

#include "bookoutline.h"
#include "lastplaces.h"
#include "lchmparsedentry.h"
#include "notestore.h"
#include "userdata.h"

#include <QByteArray>
#include <QColor>
#include <QKeySequence>
#include <QList>
#include <QMainWindow>
#include <QMessageBox>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>
#include <optional>

class BackgroundRunner;
class BookPdfExport;
class ContentsWidget;
class FavoritesWidget;
class IndexWidget;
class Appearance;
class QAction;
class QDockWidget;
class QLabel;
class QMenu;
class QPageLayout;
class QSettings;
class QShortcut;
class QTabWidget;
class QToolBar;
class SearchWidget;
class ViewWidget;

// The reader's only window: the page view in the middle, the contents, search and bookmarks
// panels in a dock at the left, one tool bar and a context menu. It owns what belongs to the
// open book for the whole run (its path, its parsed contents, the reader's notes) and wires the
// panels to the view; panels and view never see each other.
//
// Every command is on the tool bar and the context menu, and on the menu bar with the desktop's
// keys (mainwindowframe.cpp), which work wherever the focus is; in full screen, Escape also
// leaves full screen. There is no status bar. Another book, the user guide, or a book
// dropped on the window opens in a new process of the reader, so each window keeps one book.
// What the reader needs to know but not to answer (a topic the book lacks) shows in a line above
// the page instead of a dialog.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow();
    ~MainWindow() override;

    // Opens the book for this run: titles the window, hands the path to the view and the
    // panels, shows the home page and the contents, hides the panels the book cannot fill and
    // reads what the reader stored in the book. Called once, before the window is shown.
    // `inStages`: the book's outline is read on the runner (readBookOutlineInStages) and the call
    // returns at once; the home page is asked for as soon as the book is open, and the contents
    // tree, its tab and the Search tab follow when the whole outline is read.
    void loadBook(const QString& path, bool inStages = false);
    // The part of loadBook that reads the book itself.
    void loadContents(bool inStages = false);
    // Where loadBook opens the book, set before it: an in-book path and "#fragment" as the
    // command line named it, or the topic of a help context number. Neither: the home page, or
    // the page and scroll position where the reader left the book (Back leads home from there).
    // A topic or number the book lacks opens the home page and tells the reader so in the
    // window, without a dialog; a remembered page the book no longer has opens the home page.
    void setStartTopic(const QString& topic, std::optional<quint32> context);
    // The message shown in the window above the page; empty when none is shown.
    QString notice() const;

    // True when loadBook could not read the file at all: the program ends without showing the
    // window.
    bool bookUnreadable() const { return unreadable; }

    ViewWidget* pageView() const { return view; }
    // The reader's choice of page colours, as a submenu of three checkable actions: "As the
    // Book", "Dark" and "Follow the Window" (mainwindowpagecolors.cpp).
    QMenu* pageColorsMenu() const { return pageColors; }
    ContentsWidget* contentsPanel() const { return contentsWidget; }

signals:
    void contentChanged(QVector<LCHMParsedEntry>* newContent);
    void homeUrlChanged(const QString& url);

public slots:
    void back();
    void forward();
    void home();
    void zoomIn();
    void zoomOut();
    void fullScreen();
    void print();
    void printPreview();
    void saveAs();
    void extract();
    void copy();
    void note();
    void unNote();
    void bookmark();
    // Puts topicLink() of the page shown on the clipboard.
    void copyLink();
    void about();
    void setNoteEnabled(bool enabled);
    void setHistoryEnabled(bool canGoBack, bool canGoForward, bool canGoHome);
    void preference();
    void openBook();
    void help();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

    // What the reader is shown and asked through. Each runs a modal dialog; kept apart so the
    // window can be driven without one. `detail` is a message's detailed text: the reason.
    virtual void showMessage(QMessageBox::Icon icon, const QString& title, const QString& text,
                             const QString& detail = QString());
    // Asks the reader to choose one of `choices`, each a button and its label, the first being
    // the default; Cancel when the box is closed otherwise.
    using Choices = QList<QPair<QMessageBox::StandardButton, QString>>;
    virtual QMessageBox::StandardButton askReader(QMessageBox::Icon icon, const QString& title, const QString& text,
                                                  const Choices& choices);
    virtual QColor chooseColor(const QColor& initial);
    virtual void popUpMenu(QMenu* menu, const QPoint& globalPos);
    // The file dialog for another book; an empty path when cancelled.
    virtual QString chooseBookFile();
    // Starts program with arguments as a process of its own, left running when this one ends.
    virtual bool startProcess(const QString& program, const QStringList& arguments);

    // The notes and bookmarks the reader stored in the book file. A record that cannot be read
    // is reported once, at load, and kept as it is unless the reader chooses to replace it.
    // writeUserData() asks the reader when the notes cannot be saved (trying again, closing
    // without saving, or staying) and returns false when the window is to stay open.
    bool hasUserData();
    void readUserData();
    bool writeUserData();

    void readSettings();
    void writeSettings();

private:
    friend class TestMainWindow;
    friend class TestReaderWindow;

    void createActions();
    void createToolBar();
    void createPanels();
    // An action with its toolbar icon and texts; `slot`, when given, runs on each trigger.
    QAction* makeAction(const char* iconName, const QString& text, const QString& iconText,
                        const QString& toolTip, void (MainWindow::*slot)() = nullptr);
    void fillContextMenu(QMenu* menu) const;
    // The book (chapter -1), or a chapter (that contents entry and all under it), as one PDF:
    // exported to a file the reader chooses, printed through it, or its sheets previewed
    // (mainwindowexport.cpp).
    void initExport();
    void exportPdf(int chapter);
    void printBook(int chapter);
    void previewBook(int chapter);
    void runExport(int chapter, const QString& outputPath, const QPageLayout& layout,
                   std::function<void(bool ok, const QString& message)> done);
    // The window's frame (mainwindowframe.cpp). The menu bar, its entries standing for the
    // actions above with the desktop's names and keys; menuEntry() makes an entry for source,
    // menuCommand() one that only the menu bar has.
    void createMenus();
    QAction* menuEntry(QAction* source, const QString& text, const QList<QKeySequence>& keys = {});
    QAction* menuCommand(const QString& text, const QList<QKeySequence>& keys, std::function<void()> run);
    void setMenuBarShown(bool shown);
    // The menu bar's visibility, the dock's width, side and visibility, and the tool bar as the
    // reader left them ("Reader/menuBar", "Reader/windowState"); a first run gets the dock at
    // kDockFirstWidth.
    void readFrameSettings();
    void writeFrameSettings(QSettings& settings);
    void fitDockToWindow();
    // Every tab of the dock in view at its first width, without scroll arrows.
    void fitTabsToDock();
    // The page colours menu, set to the stored choice, and the view told; the choice is
    // followed as the window's palette changes (mainwindowpagecolors.cpp).
    void createPageColorsMenu();
    void applyPageColors();
    void bookOpened();
    // Tells the reader when the book did not open; otherwise remembers it and reads its
    // keyword index. Returns whether it opened.
    bool takeOpened(const BookOutline& outline);
    // Shows what the outline holds: the home page unless it was asked for already, the contents,
    // and the tabs the book can fill.
    void showOutline(BookOutline outline, bool showHomePage);
    void showIndex(int keywords);
    // The recent books, the file dialog and the choice to open books where they were left.
    void fillOpenMenu(QMenu* menu);
    void openInNewWindow(const QString& path);
    // Opening at a topic and the last place (mainwindowtopics.cpp).
    void showStartPage(const QString& homePage);
    void showNotice(const QString& text);
    void readLastPlace(QSettings& settings);
    void keepLastPlace(QSettings& settings);

    QString bookPath;
    bool userDataPresent = false;
    qint64 declaredLength = 0;
    qint64 userDataLength = 0;
    NoteStore notes;
    QByteArray userDataBytes;
    BookUserData userData;  // reads and writes the record behind the declared length
    QVector<LCHMParsedEntry> contents;
    bool outlinePending = false;   // the staged outline is still being read

    // Runs the panels' and the window's background work; goes (cancelling and waiting for its
    // tasks) before the panels do.
    std::unique_ptr<BackgroundRunner> runner;
    BookPdfExport* pdfExport = nullptr;   // made at the first export, a child of the window
    QString startTopic;
    std::optional<quint32> startContext;
    std::optional<LastPlaces::Place> lastPlace;   // where the reader left the book, when it opens there
    QLabel* noticeLabel = nullptr;

    ContentsWidget* contentsWidget = nullptr;
    SearchWidget* searchWidget = nullptr;
    FavoritesWidget* favoritesWidget = nullptr;
    IndexWidget* indexWidget = nullptr;  // a tab only once the book's keyword index is read
    ViewWidget* view = nullptr;
    QDockWidget* panelDock = nullptr;
    QTabWidget* panelTabs = nullptr;

    QSize normalSize{0, 0};
    QPoint normalPos{0, 0};
    QColor noteColor;
    bool unreadable = false;

    static constexpr int kDockFirstWidth = 231;
    Appearance* appearance = nullptr;
    QAction* menuBarAction = nullptr;       // View -> Menu Bar (Ctrl+M)
    QAction* showMenuBarAction = nullptr;   // in the context menu while the menu bar is hidden

    QToolBar* toolBar = nullptr;
    QAction* backAction = nullptr;
    QAction* forwardAction = nullptr;
    QAction* homeAction = nullptr;
    QAction* zoomInAction = nullptr;
    QAction* zoomOutAction = nullptr;
    QAction* fullScreenAction = nullptr;
    QAction* printAction = nullptr;
    QAction* printPreviewAction = nullptr;
    QAction* saveAsAction = nullptr;
    QAction* extractAction = nullptr;
    QAction* copyAction = nullptr;
    QAction* copyLinkAction = nullptr;
    QAction* noteAction = nullptr;
    QAction* eraseAction = nullptr;
    QAction* bookmarkAction = nullptr;
    QAction* quitAction = nullptr;
    QAction* noteColorAction = nullptr;
    QAction* aboutAction = nullptr;
    QAction* openAction = nullptr;
    QMenu* openMenu = nullptr;  // the recent books, under openAction
    QMenu* pageColors = nullptr;
    QAction* helpAction = nullptr;
    // The book as one PDF (mainwindowexport.cpp): the window's command, for its menus.
    QAction* exportBookAction = nullptr;
    QShortcut* leaveFullScreenKey = nullptr;  // Escape, enabled in full screen
};

#pragma once

#include "booklocation.h"
#include "textrange.h"

#include <QKeySequence>
#include <QList>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class BrowserControl;
class FindBar;
class NoteStore;

// The page in the middle of the main window. It shows book pages in its browser control,
// turns in-book paths into book URLs, follows where the control goes and, after every page
// load, runs one pass: restore a saved scroll position, paint the page's notes and a pending
// search keyword, re-apply the zoom, and report the page to the bookmarks panel.
class ViewWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ViewWidget(QWidget* parent = nullptr);

    // Shows the reader a warning ("Support Message" when a note cannot be made, "no topics
    // find" after an empty search): by default a modal box with one OK button, parented to
    // the view. Whoever cannot let a box wait for a click (tests) puts a function here; an
    // empty one brings the box back.
    using WarningHandler = std::function<void(QWidget* parent, const QString& title, const QString& text)>;
    void setWarningHandler(WarningHandler handler);

    // The page on show, as last reported (or asked for), and its scroll position (waits).
    BookLocation shownPlace() const { return shown; }
    std::optional<QPoint> scrollPosition();

public slots:
    void setCurrentPage(QString url);
    // The same, scrolled to scroll once it is loaded.
    void setCurrentPageAt(QString url, QPoint scroll);
    void setCurrentPageBySearch(QString url, QString keyW);
    void setHomeUrl(QString url);
    void setCurrentUrlAgain(QString url);
    void selectAllText();
    void showNote();
    void tellAboutThis();

    // Called by the main window
    void back();
    void forward();
    void home();
    void refresh();
    void showBlank();
    void setBookPath(QString path);

    // Notes
    void setNoteStore(NoteStore* store);
    void setNoteColor(QString color);
    void note(NoteStore* store);
    void unNote(NoteStore* store);

    // Page commands
    void zoomIn();
    void zoomOut();
    // Back to the page's own size: the zoom 1.0, which new pages are shown at untouched.
    void resetZoom();
    // Pages dark whatever the book says, or in the book's own colours (the default); see
    // BrowserControl::setDarkPages. The page shown changes at once, where it is.
    void setDarkPages(bool dark);
public:
    bool darkPages() const;
public slots:
    void print();
    void printPreview();
    void saveAs();
    void copy();

    // The find bar under the page: opened with the focus in its field (Ctrl+F); the next and
    // previous match, or the bar opened when it is closed (F3, Shift+F3).
    void findInPage();
    void findNextInPage();
    void findPreviousInPage();
    // Selects the whole page, as the page's own Ctrl+A does.
    void selectAll();

    // The window carries these keys on actions of its own that end in the same slots: the
    // view's shortcuts for them are switched off, since a key bound twice fires neither.
    void leaveKeysToWindow(const QList<QKeySequence>& keys);

signals:
    void currentAllTextSaved();
    void canNote(bool bo);
    void urlToFavorites(QString str);
    void topicToFavorites(QString str);
    // The page shown changed (a load, a link, back, forward, a move to an anchor): its
    // currentPath. The contents tree follows it.
    void pathShown(QString path);
    // Where back, forward and home can go: sent whenever that may have changed, whatever the
    // last load did (a failed one included).
    void historyChanged(bool canGoBack, bool canGoForward, bool canGoHome);

private:
    // Sets the page zoom to next(the engine's zoom); nothing while the engine reports none.
    void stepZoom(double (*next)(double));
    friend class TestViewWidget;
    friend class TestNotes;

    // The page shown as the panels name it: its bare in-book path (with "#fragment") when it is
    // a page of the open book, its book URL when it is a page of another book, any other
    // address as it stands; empty while no page was asked for.
    QString currentPath() const;
    // The last address the view was sent to (by the window, a refresh or a search; not by the
    // links the reader follows): a book URL, or an address outside the books.
    QString currentUrl() const { return asked.toAddress(); }
    // Where home goes: a book URL or "about:blank".
    QString homeUrl() const { return homePlace.toAddress(); }
    // The browser arrived at place: it is the page shown now.
    void showPlace(const BookLocation& place);
    // Finds the reader's selection in pageText: noteStart and noteLength, -1 and -1 when it
    // cannot be found (the reader is told so) or there is no passage selected (quietly).
    // Answers the selection as read, for painting it at once.
    std::optional<TextRange> locateSelection();
    // Files the mark noteStart, noteLength under currentPath, unless locating failed.
    void recordNote(NoteStore* store);
    // The reader's notes on the page, painted in noteColor.
    void paintStoredNotes();
    // The first occurrence of searchKeyword, or of each of its words, painted light blue.
    void paintSearchKeyword();
    void warn(const QString& title, const QString& text);
    // The find bar and the view's keys (Alt+Left, Ctrl+F, Ctrl+Plus, ...), see viewkeys.cpp.
    void setUpKeys();
    void reportHistory();

    double zoomFactor = 1.0;
    QString noteColor;
    NoteStore* noteStore = nullptr;
    BrowserControl* browser = nullptr;
    FindBar* findBar = nullptr;
    QString bookPath;          // the open book, as the browser names its pages
    BookLocation shown;        // the page on show, as last reported (or asked for)
    BookLocation asked;        // the last place the view was sent to, see currentUrl()
    BookLocation homePlace;    // where home goes
    QString pageText;
    QString selectedText;
    QString searchKeyword;
    bool searchPending = false;
    int savedScrollLeft = 0;
    int savedScrollTop = 0;
    int noteStart = 0;
    int noteLength = 0;
    WarningHandler warningHandler;
};

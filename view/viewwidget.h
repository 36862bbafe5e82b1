#pragma once

#include <QString>
#include <QWidget>

class BrowserControl;
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
    ~ViewWidget() override;

public slots:
    void setCurrentPage(QString url);
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
    void print();
    void printPreview();
    void saveAs();
    void copy();

signals:
    void currentAllTextSaved();
    void canNote(bool bo);
    void urlToFavorites(QString str);
    void topicToFavorites(QString str);

private:
    friend class TestViewWidget;

    // What the browser control is sent for a path: its book URL, or the path itself when it
    // is already a whole address (a page of another book, a web page, "about:blank").
    QString urlForPath(const QString& path) const;
    // The reader's notes on the page, painted in noteColor.
    void paintStoredNotes();
    // The first occurrence of searchKeyword, or of each of its words, painted light blue.
    void paintSearchKeyword();

    double zoomFactor = 1.0;
    QString noteColor;
    NoteStore* noteStore = nullptr;
    BrowserControl* browser = nullptr;
    QString bookPath;
    QString currentPath;
    QString homeUrl;
    QString currentUrl;
    QString pageText;
    QString selectedText;
    QString searchKeyword;
    bool searchPending = false;
    int savedScrollLeft = 0;
    int savedScrollTop = 0;
    int noteStart = 0;
    int noteLength = 0;
};

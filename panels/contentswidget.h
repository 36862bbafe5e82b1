#pragma once

#include "lchmparsedentry.h"

#include <QHash>
#include <QModelIndex>
#include <QString>
#include <QVector>
#include <QWidget>

class ContentsModel;
class QTreeView;

// The book's table of contents as a tree. A click, a double click or Enter on an entry asks for
// its page through currentUrlChanged(). The tree follows the page shown, wherever its navigation
// started (a link, back, forward): showPage() selects that page's entry and opens the branches
// above it, and asks for nothing.
class ContentsWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ContentsWidget(QWidget* parent = nullptr);

    QTreeView* tree() const { return m_tree; }
    // The target last sent by currentUrlChanged().
    QString lastUrl() const { return m_lastUrl; }

    // Resource path of Pagewick's own picture for a contents image number: the icon shown,
    // unless the desktop theme has one of the same meaning (see ReaderIcons).
    static QString iconPathForImageNumber(int imageNumber);

signals:
    void currentUrlChanged(const QString& url);
    // The tree's context menu: a chapter is the entry right-clicked and every entry under it,
    // named by the entry's number in the contents the tree was given; the book is all of it.
    // The window prints or exports; the tree only asks.
    void printChapterRequested(int entry);
    void previewChapterRequested(int entry);
    void exportChapterRequested(int entry);
    void printBookRequested();
    void exportBookRequested();

public slots:
    void setCurrentContents(QVector<LCHMParsedEntry>* contents);
    void setCurrentUrl(const QModelIndex& currentIndex);
    // The page shown is `path` (an in-book path, as the page view reports it). Selects the
    // entry that leads there: one with the same fragment, else one without a fragment, else
    // any entry of the page; the entry selected already stays when it is as good as any. No
    // entry of the page clears the selection. Paths compare as the book does: without regard
    // to case, escapes or "." steps. Emits nothing; clicking the entry of the page shown then
    // asks for nothing either, while clicking any other asks for its page.
    void showPage(const QString& path);

private:
    void scrollSidewaysTo(const QModelIndex& index);
    void showContextMenu(const QPoint& pos);

    QTreeView* m_tree = nullptr;
    ContentsModel* m_model = nullptr;
    QString m_lastUrl;
    // The entries of the model shown, by number, under the page (the key of pageKey()) each
    // target leads to. The model never changes once built.
    QHash<QString, QVector<int>> m_entriesByPage;
};

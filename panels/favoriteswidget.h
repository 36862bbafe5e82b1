#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QListWidget;
class QListWidgetItem;
class QMenu;
class QPoint;
class QPushButton;

// The reader's bookmarks of the open book: titles in a list, each remembering an in-book path.
// The page view reports every page it shows; "Add" bookmarks that page. The list's context
// menu renames a bookmark (its title is edited in place) or deletes it.
class FavoritesWidget : public QWidget
{
    Q_OBJECT

public:
    explicit FavoritesWidget(QWidget* parent = nullptr);

    // Two strings per bookmark, title then path, in the order the bookmarks were made.
    QStringList bookmarks() const { return m_bookmarks; }
    // Replaces the bookmarks with a stored list. A last title without its path (a list of odd
    // length) is dropped.
    void setBookmarks(const QStringList& bookmarks);

    QListWidget* list() const { return m_list; }
    QPushButton* addButton() const { return m_addButton; }
    QPushButton* clearButton() const { return m_clearButton; }

signals:
    void currentUrlChanged(const QString& currentUrl);

public slots:
    void setCurrentUrl(QListWidgetItem* currentItem);
    void add();
    void remove();
    void setViewURL(const QString& str);
    void setViewTopic(const QString& str);
    // Starts editing the item's title; the bookmark takes the new title when the edit ends.
    // An emptied title keeps the old one.
    void renameItem(QListWidgetItem* item);
    // Removes the item's bookmark.
    void deleteItem(QListWidgetItem* item);

protected:
    // Runs the context menu; kept apart so the panel can be driven without one.
    virtual void popUpMenu(QMenu* menu, const QPoint& globalPos);

private:
    void appendItem(const QString& title, const QString& path);
    void showItemMenu(const QPoint& pos);
    void titleEdited(QListWidgetItem* item);

    QString m_viewUrl;
    QString m_viewTopic;
    QStringList m_bookmarks;
    QListWidget* m_list = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_clearButton = nullptr;
};

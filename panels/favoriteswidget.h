#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QListWidget;
class QListWidgetItem;
class QPushButton;

// The reader's bookmarks of the open book: titles in a list, each remembering an in-book path.
// The page view reports every page it shows; "Add" bookmarks that page.
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

private:
    void appendItem(const QString& title, const QString& path);

    QString m_viewUrl;
    QString m_viewTopic;
    QStringList m_bookmarks;
    QListWidget* m_list = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_clearButton = nullptr;
};

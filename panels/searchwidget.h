#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

// Full-text search in the open book: the query, a "Search" button and the titles of the
// topics found, sorted. A title that several results share is followed by each one's
// in-book path on a second line. Every item keeps its in-book path under Qt::UserRole; a
// double click on a title asks for that topic with the query.
class SearchWidget : public QWidget
{
    Q_OBJECT

public:
    // Most results listed for one search.
    static constexpr int MaxResults = 700;

    explicit SearchWidget(QWidget* parent = nullptr);

    // The book every search opens anew. Results, query and lastQuery stay as they are.
    void setBookPath(const QString& path);
    QString bookPath() const { return m_bookPath; }
    // The query of the last search that found something.
    QString lastQuery() const { return m_lastQuery; }

    QLabel* promptLabel() const { return m_promptLabel; }
    QLineEdit* queryEdit() const { return m_queryEdit; }
    QPushButton* searchButton() const { return m_searchButton; }
    QListWidget* resultList() const { return m_resultList; }

signals:
    void noTopicSearched();
    void currentUrlChanged(const QString& currentUrl, const QString& keyword);

public slots:
    void search();
    void setCurrentUrl(QListWidgetItem* currentItem);

private:
    QLabel* m_promptLabel = nullptr;
    QLineEdit* m_queryEdit = nullptr;
    QPushButton* m_searchButton = nullptr;
    QLabel* m_resultsLabel = nullptr;
    QListWidget* m_resultList = nullptr;
    QStringList m_resultUrls;
    QStringList m_resultTitles;
    QString m_bookPath;
    QString m_lastQuery;
};

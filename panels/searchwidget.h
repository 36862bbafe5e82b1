#pragma once

#include "backgroundrunner.h"
#include "querymatcher.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class SearchResultDelegate;
class TextIndexJob;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTimer;

// Full-text search in the open book: the query, a "Search" button, the number of pages found
// ("83 pages", or "700 pages (more not shown)" at the limit) and the list of them. A title that
// several results share is followed by each one's in-book path on a second line. Every item
// keeps its in-book path under Qt::UserRole; a double click on a title asks for that topic with
// the query. Its tool tip says how often the query's words occur on the page.
//
// Under each title a line of the page's text around the first match, the matched words in bold
// (QueryMatcher, over the text the reader's text index reads). Snippets are made on the runner
// for the rows on screen and a screen above and below, as the list scrolls; work for rows that
// scrolled away is cancelled. An item's accessible text is its title and its snippet; a page
// that cannot be read keeps its title alone.
//
// Order ("Sort by", under the list, remembered in the settings): by relevance, pages whose title
// holds the query's words first, then those where the words occur most often for the size of
// the page, then by title; or by title alone. The pages listed are the first MaxResults the
// index gives, in either order.
//
// Books without a full-text index that holds their pages' words (none at all, titles only,
// or words the reader cannot type) are searched in a text index the panel builds from the
// pages on the runner's low lane, or loads from the user's cache. The "Search page text" check box
// chooses that index for any book; it is remembered per book in the settings. While the
// index is being built the panel shows its progress, and a search answers from the pages
// indexed so far, or waits for all of them when the reader asks so.
//
// A search runs on the runner, so the window stays responsive however long it takes; its
// results replace the list when it is done. A search started while another runs supersedes
// it: the older one is cancelled and only the newest one's results are shown.
class SearchWidget : public QWidget
{
    Q_OBJECT

public:
    // Most results listed for one search.
    static constexpr int MaxResults = 700;
    // The settings key of the result order, and its values.
    static constexpr const char* OrderSettingsKey = "Reader/searchResultOrder";
    enum class Order { Relevance, Title };

    // `runner` runs the panel's work and outlives the panel's tasks (not the panel).
    explicit SearchWidget(BackgroundRunner* runner, QWidget* parent = nullptr);
    ~SearchWidget() override;

    // The book every search opens anew. Results, query and lastQuery stay as they are. The book
    // is looked into (whether its own index holds the words of its pages, which reads a sample
    // of them) at once or, `inBackground`, on the low lane while the caller's thread goes on;
    // until the answer is there, searches use the book's own index.
    void setBookPath(const QString& path, bool inBackground = false);
    QString bookPath() const { return m_bookPath; }
    // The query of the last search that found something.
    QString lastQuery() const { return m_lastQuery; }

    QLineEdit* queryEdit() const { return m_queryEdit; }
    QPushButton* searchButton() const { return m_searchButton; }
    QListWidget* resultList() const { return m_resultList; }
    QCheckBox* pageTextCheck() const { return m_pageTextCheck; }
    QCheckBox* waitCheck() const { return m_waitCheck; }
    QLabel* indexLabel() const { return m_indexLabel; }
    QLabel* resultsLabel() const { return m_resultsLabel; }
    QComboBox* orderBox() const { return m_orderBox; }
    Order order() const;
    // Whether searches use the text index built from the pages, and whether it is complete.
    bool searchesPageText() const { return m_job != nullptr; }
    bool pageTextIndexed() const;
    // Whether a search was started whose results are still to be shown.
    bool isSearching() const { return m_searching; }

    // The settings key that remembers the check box for the book at `path`.
    static QString pageTextSettingsKey(const QString& path);

signals:
    // The newest search is done and its results (or none) are shown.
    void searched();
    void noTopicSearched();
    // Every snippet asked for so far is on the list (the rows on screen and about to be).
    void snippetsMade();
    void currentUrlChanged(const QString& currentUrl, const QString& keyword);

public slots:
    void search();
    void setCurrentUrl(QListWidgetItem* currentItem);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setPageText(bool on);
    // What setBookPath learns from the book: whether it has pages and whether its own index
    // covers their words.
    struct BookProbe
    {
        bool hasPages = false;
        bool ownIndexServes = false;
    };
    static BookProbe probeBook(const QString& path);
    void applyProbe(const QString& path, const BookProbe& probe);
    void startIndexing();
    // Cancels the build, which ends by itself; nothing waits for it.
    void stopIndexing();
    void showIndexProgress();
    void indexFinished();
    // The topics one search found, in the order the index gave them, with their titles and
    // what ranks them: how often the query's words occur, that per byte of the page, and
    // whether the title holds every word.
    struct Found
    {
        QString query;
        QStringList urls;
        QStringList titles;
        QVector<int> counts;
        QVector<double> density;
        QVector<bool> titleHolds;
        bool more = false;   // the index found more than MaxResults
    };
    static Found runSearch(const QString& bookPath, const QString& query, std::shared_ptr<TextIndexJob> job,
                           const CancelToken& token);
    void showResults(const Found& found);
    // Fills the list from m_found in the chosen order.
    void fillList();
    // Asks the runner for the snippets of the rows on screen and about to be that lack one.
    void requestSnippets();
    void applySnippets(int generation, const QHash<QString, SearchSnippet>& batch);

    QLabel* m_promptLabel = nullptr;
    QLineEdit* m_queryEdit = nullptr;
    QPushButton* m_searchButton = nullptr;
    QLabel* m_resultsLabel = nullptr;
    QListWidget* m_resultList = nullptr;
    SearchResultDelegate* m_delegate = nullptr;
    QLabel* m_orderLabel = nullptr;
    QComboBox* m_orderBox = nullptr;
    Found m_found;
    QHash<QString, SearchSnippet> m_snippets;   // of m_found's pages, as made
    int m_generation = 0;                        // of m_found: snippets of older results are dropped
    CancelToken m_snippetWork;
    QTimer* m_snippetTimer = nullptr;
    QString m_bookPath;
    QString m_lastQuery;

    QCheckBox* m_pageTextCheck = nullptr;
    QCheckBox* m_waitCheck = nullptr;
    QLabel* m_indexLabel = nullptr;
    BackgroundRunner* m_runner;
    std::shared_ptr<TextIndexJob> m_job;
    CancelToken m_indexing;   // of m_job's build
    CancelToken m_newestSearch;
    bool m_searchWaiting = false;
    bool m_searching = false;
};

#include "searchwidget.h"

#include "lchmfile.h"
#include "readersettings.h"
#include "textindex.h"

#include <QCheckBox>
#include <QHash>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <utility>

using Lane = BackgroundRunner::Lane;
using Task = BackgroundRunner::Task;

SearchWidget::SearchWidget(BackgroundRunner* runner, QWidget* parent)
    : QWidget(parent)
    , m_promptLabel(new QLabel(tr("Type in the w&ord(s) to searching for:"), this))
    , m_queryEdit(new QLineEdit(this))
    , m_searchButton(new QPushButton(tr("Search"), this))
    , m_resultsLabel(new QLabel(tr("Found Documents:"), this))
    , m_resultList(new QListWidget(this))
    , m_pageTextCheck(new QCheckBox(tr("Search page text"), this))
    , m_waitCheck(new QCheckBox(tr("Wait for every page"), this))
    , m_indexLabel(new QLabel(this))
    , m_runner(runner)
{
    m_promptLabel->setBuddy(m_queryEdit);
    // The dock is narrow: the prompt wraps rather than losing its end.
    m_promptLabel->setWordWrap(true);
    m_resultList->setSortingEnabled(true);
    setAccessibleName(tr("Search"));
    m_queryEdit->setAccessibleName(tr("Words to search for"));
    m_resultList->setAccessibleName(tr("Found Documents"));
    m_resultList->setAccessibleDescription(tr("Pages that hold the words; Enter opens one"));

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_searchButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_promptLabel);
    layout->addWidget(m_queryEdit);
    layout->addLayout(buttonRow);
    layout->addWidget(m_pageTextCheck);
    layout->addWidget(m_indexLabel);
    layout->addWidget(m_waitCheck);
    layout->addWidget(m_resultsLabel);
    layout->addWidget(m_resultList);

    connect(m_queryEdit, &QLineEdit::returnPressed, this, &SearchWidget::search);
    connect(m_searchButton, &QPushButton::clicked, this, &SearchWidget::search);
    // A double click, and Enter for the keyboard.
    connect(m_resultList, &QListWidget::itemActivated, this, &SearchWidget::setCurrentUrl);

    m_pageTextCheck->setToolTip(tr("Search an index of the pages' text that Pagewick builds, "
                                   "instead of the book's own index"));
    m_pageTextCheck->setVisible(false);
    m_indexLabel->setWordWrap(true);
    m_indexLabel->setVisible(false);
    m_waitCheck->setVisible(false);
    connect(m_pageTextCheck, &QCheckBox::clicked, this, [this](bool on) {
        readerSettings().setValue(pageTextSettingsKey(m_bookPath), on);
        setPageText(on);
    });
}

SearchWidget::~SearchWidget()
{
    stopIndexing();
    m_newestSearch.cancel();
}

QString SearchWidget::pageTextSettingsKey(const QString& path)
{
    const QString canonical = BookIdentity::canonicalPathOf(path);
    return QStringLiteral("SearchPageText/") + QString::fromLatin1(QUrl::toPercentEncoding(canonical));
}

void SearchWidget::setBookPath(const QString& path, bool inBackground)
{
    stopIndexing();
    m_bookPath = path;
    m_pageTextCheck->setVisible(false);
    if (path.isEmpty())
        return;
    if (!inBackground) {
        applyProbe(path, probeBook(path));
        return;
    }
    m_runner->run(
        Lane::Low, this, [path](const Task&) { return probeBook(path); },
        [this, path](const BookProbe& probe) {
            if (m_bookPath == path)   // not another book meanwhile
                applyProbe(path, probe);
        },
        QStringLiteral("probe"));
}

SearchWidget::BookProbe SearchWidget::probeBook(const QString& path)
{
    // The book's own index serves when it holds the words of the pages; otherwise only the
    // pages' text can be searched, and the check box stays on.
    BookProbe probe;
    LCHMFile book;
    if (!book.openBook(path))
        return probe;
    probe.hasPages = !TextIndex::htmlPages(book).isEmpty();
    probe.ownIndexServes = TextIndex::bookIndexCoversPages(book);
    return probe;
}

void SearchWidget::applyProbe(const QString& path, const BookProbe& probe)
{
    if (!probe.hasPages)
        return;
    const bool on = !probe.ownIndexServes || readerSettings().value(pageTextSettingsKey(path), false).toBool();
    m_pageTextCheck->setVisible(true);
    m_pageTextCheck->setEnabled(probe.ownIndexServes);
    m_pageTextCheck->setChecked(on);
    setPageText(on);
}

bool SearchWidget::pageTextIndexed() const
{
    return m_job && m_job->isFinished();
}

void SearchWidget::setPageText(bool on)
{
    if (on && !m_job)
        startIndexing();
    else if (!on)
        stopIndexing();
}

void SearchWidget::startIndexing()
{
    m_job = std::make_shared<TextIndexJob>(m_bookPath, TextIndex::cacheFile(m_bookPath));
    std::shared_ptr<TextIndexJob> job = m_job;
    // A stopped build is cancelled, so neither its progress nor its end reaches a later one.
    m_indexing = m_runner->run(
        Lane::Low, this,
        [job](const Task& task) {
            job->run(task.token(), [&task](int done, int total) { task.progress(done, total); });
            return true;
        },
        [this](bool) { indexFinished(); }, QString(), [this](int, int) { showIndexProgress(); });
    showIndexProgress();
}

void SearchWidget::stopIndexing()
{
    m_indexing.cancel();
    m_job.reset();
    m_searchWaiting = false;
    m_indexLabel->setVisible(false);
    m_waitCheck->setVisible(false);
}

void SearchWidget::showIndexProgress()
{
    if (!m_job)
        return;
    const QLocale locale;
    const bool done = m_job->isFinished();
    if (done) {
        m_indexLabel->setText(tr("%1 pages indexed").arg(locale.toString(m_job->pagesTotal())));
    } else if (m_searchWaiting) {
        m_indexLabel->setText(tr("Indexing %1 of %2 pages… The search runs when all are indexed.")
                                  .arg(locale.toString(m_job->pagesDone()),
                                       locale.toString(std::max(0, m_job->pagesTotal()))));
    } else {
        m_indexLabel->setText(tr("Indexing %1 of %2 pages…")
                                  .arg(locale.toString(m_job->pagesDone()),
                                       locale.toString(std::max(0, m_job->pagesTotal()))));
    }
    m_indexLabel->setVisible(true);
    m_waitCheck->setVisible(!done);
}

void SearchWidget::indexFinished()
{
    showIndexProgress();
    if (m_searchWaiting) {
        m_searchWaiting = false;
        search();
    }
}

void SearchWidget::search()
{
    const QString query = m_queryEdit->text();
    if (query.isEmpty() || m_bookPath.isEmpty())
        return;

    // While the page text is being indexed, the reader may have the search wait for the
    // whole book: it runs once indexing is done.
    if (m_job && !m_job->isFinished() && m_waitCheck->isChecked()) {
        m_searchWaiting = true;
        showIndexProgress();
        return;
    }

    // The work, the book and the index it reads belong to the worker; the window only waits
    // for the result. The text index job is shared, so it outlives a panel that goes first.
    m_searching = true;
    m_newestSearch = m_runner->run(
        Lane::Normal, this,
        [bookPath = m_bookPath, query, job = m_job](const Task& task) {
            return runSearch(bookPath, query, job, task.token());
        },
        [this](const Found& found) { showResults(found); }, QStringLiteral("search"));
}

SearchWidget::Found SearchWidget::runSearch(const QString& bookPath, const QString& query,
                                            std::shared_ptr<TextIndexJob> job, const CancelToken& token)
{
    Found found;
    found.query = query;
    // Each search reads the book anew (a book opened before costs little: its parse is
    // kept). A book that does not open has no index, and the search then finds nothing.
    LCHMFile book;
    book.openBook(bookPath);
    if (job)
        job->search(book, query, &found.urls, MaxResults);
    else
        book.fullTextSearch(query, &found.urls, MaxResults);
    if (found.urls.size() > MaxResults)
        found.urls.resize(MaxResults);

    found.titles.reserve(found.urls.size());
    for (const QString& url : std::as_const(found.urls)) {
        if (token.isCancelled())
            break;   // superseded: the result is dropped anyway
        QString title = book.topicTitleForUrl(url);
        if (title.isEmpty() && job)
            title = job->pageTitle(url);   // a page the book's topic table leaves out
        found.titles.append(title);
    }
    return found;
}

void SearchWidget::showResults(const Found& found)
{
    m_searching = false;
    m_resultUrls = found.urls;
    m_resultTitles = found.titles;
    if (m_resultUrls.isEmpty()) {
        m_resultList->clear();
        emit noTopicSearched();
        emit searched();
        return;
    }

    // Topics that share a title (overloads in a reference book, pages named "Overview")
    // cannot be told apart by it: such items show their in-book path under the title.
    QHash<QString, int> titleCount;
    for (const QString& title : std::as_const(m_resultTitles))
        ++titleCount[title];

    m_resultList->clear();
    for (qsizetype i = 0; i < m_resultTitles.size(); ++i) {
        QString text = m_resultTitles.at(i);
        if (titleCount.value(text) > 1)
            text += QLatin1Char('\n') + m_resultUrls.at(i);
        auto* item = new QListWidgetItem(text);
        item->setToolTip(text);
        item->setData(Qt::UserRole, m_resultUrls.at(i));
        m_resultList->addItem(item);   // the list sorts it into place
    }
    m_lastQuery = found.query;
    emit searched();
}

void SearchWidget::setCurrentUrl(QListWidgetItem* currentItem)
{
    if (!currentItem)
        return;
    emit currentUrlChanged(currentItem->data(Qt::UserRole).toString(), m_lastQuery);
}

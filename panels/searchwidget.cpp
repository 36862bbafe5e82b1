#include "searchwidget.h"

#include "idlework.h"

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
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QtConcurrent>

#include <utility>

SearchWidget::SearchWidget(QWidget* parent)
    : QWidget(parent)
    , m_promptLabel(new QLabel(tr("Type in the w&ord(s) to searching for:"), this))
    , m_queryEdit(new QLineEdit(this))
    , m_searchButton(new QPushButton(tr("Search"), this))
    , m_resultsLabel(new QLabel(tr("Found Documents:"), this))
    , m_resultList(new QListWidget(this))
    , m_pageTextCheck(new QCheckBox(tr("Search page text"), this))
    , m_waitCheck(new QCheckBox(tr("Wait for every page"), this))
    , m_indexLabel(new QLabel(this))
    , m_progressTimer(new QTimer(this))
{
    m_promptLabel->setBuddy(m_queryEdit);
    // The dock is narrow: the prompt wraps rather than losing its end.
    m_promptLabel->setWordWrap(true);
    m_resultList->setSortingEnabled(true);

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
    connect(m_resultList, &QListWidget::itemDoubleClicked, this, &SearchWidget::setCurrentUrl);
    connect(&m_watcher, &QFutureWatcher<Found>::finished, this, [this] {
        // The future a newer search replaced reports nothing here: the watcher follows the
        // newest future only.
        if (m_watcher.future().isValid() && m_watcher.future().resultCount() > 0)
            showResults(m_watcher.result());
    });

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
    m_progressTimer->setInterval(100);
    connect(m_progressTimer, &QTimer::timeout, this, &SearchWidget::showIndexProgress);
}

SearchWidget::~SearchWidget()
{
    stopIndexing();
}

QString SearchWidget::pageTextSettingsKey(const QString& path)
{
    const QString canonical = BookIdentity::canonicalPathOf(path);
    return QStringLiteral("SearchPageText/") + QString::fromLatin1(QUrl::toPercentEncoding(canonical));
}

void SearchWidget::setBookPath(const QString& path)
{
    stopIndexing();
    m_bookPath = path;
    m_pageTextCheck->setVisible(false);
    if (!path.isEmpty())
        applyProbe(path, probeBook(path));
}

void SearchWidget::setBookPathInBackground(const QString& path)
{
    stopIndexing();
    m_bookPath = path;
    m_pageTextCheck->setVisible(false);
    if (path.isEmpty())
        return;
    QtConcurrent::run(&SearchWidget::probeBook, path).then(this, [this, path](const BookProbe& probe) {
        if (m_bookPath == path)   // not another book meanwhile
            applyProbe(path, probe);
    });
}

SearchWidget::BookProbe SearchWidget::probeBook(const QString& path)
{
    // The book's own index serves when it holds the words of the pages; otherwise only the
    // pages' text can be searched, and the check box stays on.
    const IdleWork behindThePage;
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
    m_thread = QThread::create([job]() { job->run(); });
    // A finish reported after this job was stopped must not end the next one.
    connect(m_thread, &QThread::finished, this, [this, job]() {
        if (job == m_job)
            indexFinished();
    });
    m_thread->start(QThread::LowPriority);
    m_progressTimer->start();
    showIndexProgress();
}

void SearchWidget::stopIndexing()
{
    m_progressTimer->stop();
    if (m_thread) {
        m_job->cancel();
        m_thread->disconnect(this);
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
    }
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
    m_progressTimer->stop();
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
    }
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
    m_watcher.setFuture(QtConcurrent::run(&SearchWidget::runSearch, m_bookPath, query, m_job));
}

SearchWidget::Found SearchWidget::runSearch(const QString& bookPath, const QString& query,
                                            std::shared_ptr<TextIndexJob> job)
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

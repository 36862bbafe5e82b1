#include "searchwidget.h"

#include "lchmfile.h"
#include "readersettings.h"
#include "searchresultdelegate.h"
#include "textindex.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHash>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <numeric>
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
    , m_delegate(new SearchResultDelegate(m_resultList))
    , m_orderLabel(new QLabel(tr("Sort &by:"), this))
    , m_orderBox(new QComboBox(this))
    , m_snippetTimer(new QTimer(this))
    , m_pageTextCheck(new QCheckBox(tr("Search page text"), this))
    , m_waitCheck(new QCheckBox(tr("Wait for every page"), this))
    , m_indexLabel(new QLabel(this))
    , m_runner(runner)
{
    m_promptLabel->setBuddy(m_queryEdit);
    // The dock is narrow: the prompt wraps rather than losing its end.
    m_promptLabel->setWordWrap(true);
    setAccessibleName(tr("Search"));
    m_queryEdit->setAccessibleName(tr("Words to search for"));
    m_resultList->setAccessibleName(tr("Found Documents"));
    m_resultList->setAccessibleDescription(tr("Pages that hold the words; Enter opens one"));
    m_orderBox->setAccessibleName(tr("Sort by"));
    m_resultList->setItemDelegate(m_delegate);
    m_resultList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_resultList->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_orderBox->addItem(tr("Relevance"), QStringLiteral("relevance"));
    m_orderBox->addItem(tr("Title"), QStringLiteral("title"));
    const QString order = readerSettings().value(QLatin1String(OrderSettingsKey)).toString();
    m_orderBox->setCurrentIndex(std::max(0, m_orderBox->findData(order)));
    m_orderLabel->setBuddy(m_orderBox);

    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_searchButton);
    auto* orderRow = new QHBoxLayout;
    orderRow->addWidget(m_orderLabel);
    orderRow->addWidget(m_orderBox, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_promptLabel);
    layout->addWidget(m_queryEdit);
    layout->addLayout(buttonRow);
    layout->addWidget(m_pageTextCheck);
    layout->addWidget(m_indexLabel);
    layout->addWidget(m_waitCheck);
    layout->addWidget(m_resultsLabel);
    layout->addWidget(m_resultList);
    layout->addLayout(orderRow);

    connect(m_queryEdit, &QLineEdit::returnPressed, this, &SearchWidget::search);
    connect(m_searchButton, &QPushButton::clicked, this, &SearchWidget::search);
    // A double click, and Enter for the keyboard.
    connect(m_resultList, &QListWidget::itemActivated, this, &SearchWidget::setCurrentUrl);
    connect(m_orderBox, &QComboBox::currentIndexChanged, this, [this] {
        readerSettings().setValue(QLatin1String(OrderSettingsKey), m_orderBox->currentData());
        fillList();
    });

    // Snippets follow what the list shows: asked for once the list settles after a search, a
    // scroll or a resize.
    m_snippetTimer->setSingleShot(true);
    m_snippetTimer->setInterval(0);
    connect(m_snippetTimer, &QTimer::timeout, this, &SearchWidget::requestSnippets);
    connect(m_resultList->verticalScrollBar(), &QScrollBar::valueChanged, m_snippetTimer,
            qOverload<>(&QTimer::start));
    m_resultList->viewport()->installEventFilter(this);

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
    m_snippetWork.cancel();
}

bool SearchWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_resultList->viewport() && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        m_snippetTimer->start();
    return QWidget::eventFilter(watched, event);
}

SearchWidget::Order SearchWidget::order() const
{
    return m_orderBox->currentData().toString() == QLatin1String("title") ? Order::Title : Order::Relevance;
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
    m_snippetWork.cancel();
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
    // One result more than listed tells whether the list is cut.
    LCHMFile book;
    book.openBook(bookPath);
    if (job)
        job->search(book, query, &found.urls, MaxResults + 1, &found.counts);
    else
        book.fullTextSearch(query, &found.urls, MaxResults + 1, &found.counts);
    found.more = found.urls.size() > MaxResults;
    if (found.more)
        found.urls.resize(MaxResults);
    found.counts.resize(found.urls.size(), 1);

    // What ranks a page costs no read of it: its title, its size from the book's directory and
    // the count the index gave.
    const QueryMatcher matcher(book, query);
    found.titles.reserve(found.urls.size());
    for (qsizetype i = 0; i < found.urls.size(); ++i) {
        if (token.isCancelled())
            break;   // superseded: the result is dropped anyway
        const QString& url = found.urls.at(i);
        QString title = book.topicTitleForUrl(url);
        if (title.isEmpty() && job)
            title = job->pageTitle(url);   // a page the book's topic table leaves out
        found.titles.append(title);
        found.titleHolds.append(matcher.holdsAllTerms(title));
        found.density.append(double(found.counts.at(i)) / double(std::max<qint64>(1, book.objectSize(url))));
    }
    return found;
}

void SearchWidget::showResults(const Found& found)
{
    m_searching = false;
    m_found = found;
    m_snippets.clear();
    m_snippetWork.cancel();
    ++m_generation;
    if (m_found.urls.isEmpty()) {
        m_resultList->clear();
        m_resultsLabel->setText(tr("No pages"));
        emit noTopicSearched();
        emit searched();
        return;
    }

    const QString count = QLocale().toString(m_found.urls.size());
    if (m_found.more)
        m_resultsLabel->setText(tr("%1 pages (more not shown)").arg(count));
    else
        m_resultsLabel->setText(m_found.urls.size() == 1 ? tr("1 page") : tr("%1 pages").arg(count));
    m_lastQuery = found.query;
    fillList();
    emit searched();
}

void SearchWidget::fillList()
{
    m_resultList->clear();
    const qsizetype n = m_found.urls.size();
    if (n == 0)
        return;

    // Topics that share a title (overloads in a reference book, pages named "Overview")
    // cannot be told apart by it: such items show their in-book path under the title.
    QHash<QString, int> titleCount;
    for (const QString& title : std::as_const(m_found.titles))
        ++titleCount[title];
    QStringList texts;
    texts.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        QString text = m_found.titles.value(i);
        if (titleCount.value(text) > 1)
            text += QLatin1Char('\n') + m_found.urls.at(i);
        texts.append(text);
    }

    std::vector<qsizetype> rows(static_cast<size_t>(n));
    std::iota(rows.begin(), rows.end(), 0);
    const bool byTitle = order() == Order::Title;
    if (!byTitle) {
        std::stable_sort(rows.begin(), rows.end(), [this, &texts](qsizetype a, qsizetype b) {
            const bool titleA = m_found.titleHolds.value(a);
            const bool titleB = m_found.titleHolds.value(b);
            if (titleA != titleB)
                return titleA;
            const double densityA = m_found.density.value(a);
            const double densityB = m_found.density.value(b);
            if (densityA != densityB)
                return densityA > densityB;
            return texts.at(a) < texts.at(b);
        });
    }

    // By title the list sorts the items into place itself, as it always has.
    m_resultList->setSortingEnabled(byTitle);
    for (const qsizetype i : rows) {
        const QString& url = m_found.urls.at(i);
        const int count = m_found.counts.value(i, 1);
        auto* item = new QListWidgetItem(texts.at(i));
        item->setToolTip(texts.at(i) + QLatin1Char('\n')
                         + (count == 1 ? tr("The query's words occur once on this page")
                                       : tr("The query's words occur %1 times on this page").arg(count)));
        item->setData(Qt::UserRole, url);
        item->setData(Qt::AccessibleTextRole, texts.at(i));
        if (const auto made = m_snippets.constFind(url); made != m_snippets.constEnd()) {
            item->setData(SearchResultDelegate::SnippetRole, QVariant::fromValue(*made));
            if (!made->isEmpty())
                item->setData(Qt::AccessibleTextRole, texts.at(i) + QLatin1Char('\n') + made->text);
        }
        m_resultList->addItem(item);
    }
    m_resultList->scrollToTop();
    m_snippetTimer->start();
}

void SearchWidget::requestSnippets()
{
    const int rows = m_resultList->count();
    if (rows == 0)
        return;
    // The rows on screen, and a screen's worth above and below them. A list not laid out
    // yet (not shown) counts from its first row.
    const QRect view = m_resultList->viewport()->rect();
    const QModelIndex top = m_resultList->indexAt(view.topLeft());
    const QModelIndex bottom = m_resultList->indexAt(QPoint(view.left(), view.bottom()));
    const int first = top.isValid() ? top.row() : 0;
    const int rowHeight = std::max(1, m_resultList->sizeHintForRow(first));
    const int screen = std::max(1, view.height() / rowHeight + 1);
    const int last = bottom.isValid() ? bottom.row() : first + screen;

    // The rows on screen come first, then those below and above them.
    QStringList wanted;
    const auto want = [this, &wanted](int from, int to) {
        for (int row = from; row <= to; ++row) {
            const QListWidgetItem* item = m_resultList->item(row);
            if (!item->data(SearchResultDelegate::SnippetRole).isValid())
                wanted.append(item->data(Qt::UserRole).toString());
        }
    };
    const int end = std::min(rows - 1, last);
    want(first, end);
    want(end + 1, std::min(rows - 1, end + screen));
    want(std::max(0, first - screen), first - 1);
    if (wanted.isEmpty()) {
        emit snippetsMade();
        return;
    }

    // Delivered together, so that the list is updated once.
    const int generation = m_generation;
    m_snippetWork = m_runner->start(
        Lane::Normal, this,
        [this, bookPath = m_bookPath, query = m_lastQuery, wanted, generation](const Task& task) {
            LCHMFile book;
            book.openBook(bookPath);
            const QueryMatcher matcher(book, query);
            QHash<QString, SearchSnippet> made;
            for (const QString& url : wanted) {
                if (task.isCancelled())
                    return;
                // A page that cannot be read gets an empty snippet: its title stays alone.
                QByteArray html;
                SearchSnippet& snippet = made[url];
                if (book.readFileBytes(&html, url))
                    snippet = matcher.snippet(TextIndex::pageText(book, html).body);
            }
            task.deliver([this, generation, made] {
                applySnippets(generation, made);
                emit snippetsMade();
            });
        },
        QStringLiteral("snippets"));
}

void SearchWidget::applySnippets(int generation, const QHash<QString, SearchSnippet>& batch)
{
    if (generation != m_generation)
        return;   // made for results since replaced
    m_snippets.insert(batch);
    for (int row = 0; row < m_resultList->count(); ++row) {
        QListWidgetItem* item = m_resultList->item(row);
        const auto snippet = batch.constFind(item->data(Qt::UserRole).toString());
        if (snippet == batch.constEnd())
            continue;
        item->setData(SearchResultDelegate::SnippetRole, QVariant::fromValue(*snippet));
        if (!snippet->isEmpty())
            item->setData(Qt::AccessibleTextRole, item->text() + QLatin1Char('\n') + snippet->text);
        else
            emit m_delegate->sizeHintChanged(m_resultList->indexFromItem(item));
    }
}

void SearchWidget::setCurrentUrl(QListWidgetItem* currentItem)
{
    if (!currentItem)
        return;
    emit currentUrlChanged(currentItem->data(Qt::UserRole).toString(), m_lastQuery);
}

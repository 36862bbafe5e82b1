#include "searchwidget.h"

#include "lchmfile.h"

#include <QHash>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

SearchWidget::SearchWidget(QWidget* parent)
    : QWidget(parent)
    , m_promptLabel(new QLabel(tr("Type in the w&ord(s) to searching for:"), this))
    , m_queryEdit(new QLineEdit(this))
    , m_searchButton(new QPushButton(tr("Search"), this))
    , m_resultsLabel(new QLabel(tr("Found Documents:"), this))
    , m_resultList(new QListWidget(this))
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
    layout->addWidget(m_resultsLabel);
    layout->addWidget(m_resultList);

    connect(m_queryEdit, &QLineEdit::returnPressed, this, &SearchWidget::search);
    connect(m_searchButton, &QPushButton::clicked, this, &SearchWidget::search);
    connect(m_resultList, &QListWidget::itemDoubleClicked, this, &SearchWidget::setCurrentUrl);
}

void SearchWidget::setBookPath(const QString& path)
{
    m_bookPath = path;
}

void SearchWidget::search()
{
    const QString query = m_queryEdit->text();
    if (query.isEmpty() || m_bookPath.isEmpty())
        return;

    m_resultUrls.clear();
    m_resultTitles.clear();

    // Each search reads the book anew. A book that does not open has no index, and the
    // search below then simply finds nothing.
    LCHMFile book;
    book.openBook(m_bookPath);
    book.fullTextSearch(query, &m_resultUrls, MaxResults);
    if (m_resultUrls.size() > MaxResults)
        m_resultUrls.resize(MaxResults);

    for (const QString& url : std::as_const(m_resultUrls))
        m_resultTitles.append(book.topicTitleForUrl(url));
    book.closeBook();

    if (m_resultUrls.isEmpty()) {
        m_resultList->clear();
        emit noTopicSearched();
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
    m_lastQuery = query;
}

void SearchWidget::setCurrentUrl(QListWidgetItem* currentItem)
{
    if (!currentItem)
        return;
    emit currentUrlChanged(currentItem->data(Qt::UserRole).toString(), m_lastQuery);
}

#include "favoriteswidget.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

FavoritesWidget::FavoritesWidget(QWidget* parent)
    : QWidget(parent)
    , m_list(new QListWidget(this))
    , m_addButton(new QPushButton(tr("Add"), this))
    , m_clearButton(new QPushButton(tr("ClearAll"), this))
{
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_addButton);
    buttons->addWidget(m_clearButton);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(7, 7, 7, 7);
    layout->addWidget(m_list);
    layout->addLayout(buttons);

    connect(m_addButton, &QPushButton::clicked, this, &FavoritesWidget::add);
    connect(m_clearButton, &QPushButton::clicked, this, &FavoritesWidget::remove);
    connect(m_list, &QListWidget::itemClicked, this, &FavoritesWidget::setCurrentUrl);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &FavoritesWidget::setCurrentUrl);
}

void FavoritesWidget::appendItem(const QString& title, const QString& path)
{
    auto* item = new QListWidgetItem(title);
    item->setToolTip(title);
    item->setData(Qt::UserRole, path);
    m_list->addItem(item);
}

void FavoritesWidget::add()
{
    appendItem(m_viewTopic, m_viewUrl);
    m_bookmarks << m_viewTopic << m_viewUrl;
}

void FavoritesWidget::remove()
{
    m_list->clear();
    m_bookmarks.clear();
}

void FavoritesWidget::setBookmarks(const QStringList& bookmarks)
{
    m_list->clear();
    m_bookmarks = bookmarks;
    // A damaged record can leave a title without its path; the list and the items stay in step.
    if (m_bookmarks.size() % 2 != 0)
        m_bookmarks.removeLast();
    for (qsizetype i = 0; i + 1 < m_bookmarks.size(); i += 2)
        appendItem(m_bookmarks.at(i), m_bookmarks.at(i + 1));
}

void FavoritesWidget::setCurrentUrl(QListWidgetItem* currentItem)
{
    if (!currentItem)
        return;
    emit currentUrlChanged(currentItem->data(Qt::UserRole).toString());
}

void FavoritesWidget::setViewURL(const QString& str)
{
    m_viewUrl = str;
}

void FavoritesWidget::setViewTopic(const QString& str)
{
    m_viewTopic = str;
}

#include "favoriteswidget.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QMenu>
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
    // A double click, and Enter for the keyboard.
    connect(m_list, &QListWidget::itemActivated, this, &FavoritesWidget::setCurrentUrl);
    connect(m_list, &QListWidget::itemChanged, this, &FavoritesWidget::titleEdited);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);  // renaming starts from the menu
    setAccessibleName(tr("Bookmarks"));
    m_list->setAccessibleName(tr("Bookmarks"));
    m_list->setAccessibleDescription(tr("Bookmarks of this book; Enter opens one, the context menu renames or deletes it"));
    m_addButton->setAccessibleDescription(tr("Bookmark the page shown"));
    m_clearButton->setAccessibleName(tr("Clear All"));
    m_clearButton->setAccessibleDescription(tr("Delete every bookmark of this book"));
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, &FavoritesWidget::showItemMenu);
}

void FavoritesWidget::appendItem(const QString& title, const QString& path)
{
    auto* item = new QListWidgetItem(title);
    item->setToolTip(title);
    item->setData(Qt::UserRole, path);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    m_list->addItem(item);
}

void FavoritesWidget::showItemMenu(const QPoint& pos)
{
    QListWidgetItem* item = m_list->itemAt(pos);
    if (!item)
        return;
    QMenu menu;
    connect(menu.addAction(tr("Rename")), &QAction::triggered, this, [this, item] { renameItem(item); });
    connect(menu.addAction(tr("Delete")), &QAction::triggered, this, [this, item] { deleteItem(item); });
    popUpMenu(&menu, m_list->viewport()->mapToGlobal(pos));
}

void FavoritesWidget::popUpMenu(QMenu* menu, const QPoint& globalPos)
{
    menu->exec(globalPos);
}

void FavoritesWidget::renameItem(QListWidgetItem* item)
{
    if (item && m_list->row(item) >= 0)
        m_list->editItem(item);
}

// Item k shows bookmark k, whose title is entry 2k of the list.
void FavoritesWidget::titleEdited(QListWidgetItem* item)
{
    const int row = m_list->row(item);
    if (row < 0 || 2 * qsizetype(row) + 1 >= m_bookmarks.size())
        return;
    QString& title = m_bookmarks[2 * qsizetype(row)];
    if (item->text() == title && item->toolTip() == title)
        return;  // the change made below, or one that is not of the title
    const QString edited = item->text().trimmed();
    if (!edited.isEmpty())
        title = edited;
    item->setText(title);
    item->setToolTip(title);
}

void FavoritesWidget::deleteItem(QListWidgetItem* item)
{
    const int row = item ? m_list->row(item) : -1;
    if (row < 0 || 2 * qsizetype(row) + 1 >= m_bookmarks.size())
        return;
    m_bookmarks.remove(2 * qsizetype(row), 2);
    delete m_list->takeItem(row);
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

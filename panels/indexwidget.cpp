#include "indexwidget.h"

#include "lchmfile.h"

#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kIndentStep = 14;  // pixels per sub-keyword level

bool keywordLess(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
}

// Draws each keyword moved right by its nesting level.
class IndentDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem indented = option;
        indented.rect.adjust(indentOf(index), 0, 0, 0);
        QStyledItemDelegate::paint(painter, indented, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(indentOf(index), 0);
    }

private:
    static int indentOf(const QModelIndex& index)
    {
        return std::clamp(index.data(KeywordIndexModel::IndentRole).toInt(), 0, 8) * kIndentStep;
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------

KeywordIndex KeywordIndex::fromParsed(QVector<LCHMParsedEntry> parsed)
{
    // A group is a top-level keyword and the sub-keywords behind it. The parser gives the first
    // entry level 0 and never goes below it.
    struct Group
    {
        qsizetype begin;
        qsizetype end;
    };
    QVector<Group> groups;
    for (qsizetype i = 0; i < parsed.size(); ++i) {
        if (parsed.at(i).indent <= 0 || groups.isEmpty())
            groups.append({i, i + 1});
        else
            groups.last().end = i + 1;
    }
    const auto groupLess = [&parsed](const Group& a, const Group& b) {
        return keywordLess(parsed.at(a.begin).name, parsed.at(b.begin).name);
    };

    KeywordIndex index;
    if (std::is_sorted(groups.cbegin(), groups.cend(), groupLess)) {
        index.entries = std::move(parsed);
    } else {
        std::stable_sort(groups.begin(), groups.end(), groupLess);
        index.entries.reserve(parsed.size());
        for (const Group& group : std::as_const(groups)) {
            for (qsizetype i = group.begin; i < group.end; ++i)
                index.entries.append(std::move(parsed[i]));
        }
    }
    index.keywordRows.reserve(groups.size());
    for (int row = 0; row < index.entries.size(); ++row) {
        if (row == 0 || index.entries.at(row).indent <= 0)
            index.keywordRows.append(row);
    }
    return index;
}

int KeywordIndex::rowForPrefix(const QString& text) const
{
    if (text.isEmpty() || keywordRows.isEmpty())
        return -1;
    const auto it = std::lower_bound(keywordRows.cbegin(), keywordRows.cend(), text,
                                     [this](int row, const QString& wanted) {
                                         return keywordLess(entries.at(row).name, wanted);
                                     });
    return it == keywordRows.cend() ? keywordRows.last() : *it;
}

// ---------------------------------------------------------------------------------------------

void KeywordIndexModel::setIndex(KeywordIndex index)
{
    beginResetModel();
    m_index = std::move(index);
    endResetModel();
}

int KeywordIndexModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_index.entries.size());
}

QVariant KeywordIndexModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_index.entries.size())
        return QVariant();
    const LCHMParsedEntry& entry = m_index.entries.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return entry.name;
    case Qt::UserRole:
        return entry.urls.isEmpty() ? QString() : entry.urls.constFirst();
    case TargetsRole:
        return entry.urls;
    case IndentRole:
        return entry.indent;
    default:
        return QVariant();
    }
}

// ---------------------------------------------------------------------------------------------

IndexWidget::IndexWidget(BackgroundRunner* runner, QWidget* parent)
    : QWidget(parent)
    , m_runner(runner)
    , m_find(new QLineEdit(this))
    , m_list(new QListView(this))
    , m_model(new KeywordIndexModel(this))
{
    m_find->setPlaceholderText(tr("Type a keyword"));
    m_find->setClearButtonEnabled(true);
    setAccessibleName(tr("Index"));
    m_find->setAccessibleName(tr("Find a keyword"));
    m_find->setAccessibleDescription(tr("Typing selects the first keyword that begins with the text; Enter opens it"));
    for (QToolButton* clear : m_find->findChildren<QToolButton*>())
        clear->setAccessibleName(tr("Clear"));
    m_list->setAccessibleName(tr("Index"));
    m_list->setAccessibleDescription(tr("Keywords of the book's index; Enter opens the page of one"));
    m_list->setModel(m_model);
    m_list->setItemDelegate(new IndentDelegate(m_list));
    m_list->setUniformItemSizes(true);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(7, 7, 7, 7);
    layout->addWidget(m_find);
    layout->addWidget(m_list);

    connect(m_find, &QLineEdit::textEdited, this, &IndexWidget::find);
    connect(m_find, &QLineEdit::returnPressed, this, [this] { openKeyword(m_list->currentIndex()); });
    // Enter on the list and a double click both activate.
    connect(m_list, &QListView::activated, this, &IndexWidget::openKeyword);
}

void IndexWidget::loadBook(const QString& path)
{
    m_bookPath = path;
    m_loading = true;
    m_runner->run(
        BackgroundRunner::Lane::Low, this,
        [path](const BackgroundRunner::Task&) {
            QVector<LCHMParsedEntry> parsed;
            LCHMFile book;
            if (book.openBook(path))
                book.parseIndex(&parsed);
            return KeywordIndex::fromParsed(std::move(parsed));
        },
        [this](KeywordIndex index) {
            m_model->setIndex(std::move(index));
            m_loading = false;
            emit indexLoaded(m_model->rowCount());
        },
        QStringLiteral("index"));
}

void IndexWidget::find(const QString& text)
{
    const int row = m_model->keywordIndex().rowForPrefix(text.trimmed());
    if (row < 0)
        return;
    const QModelIndex index = m_model->index(row);
    m_list->setCurrentIndex(index);
    m_list->scrollTo(index, QAbstractItemView::PositionAtTop);
}

void IndexWidget::openKeyword(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    const QStringList urls = index.data(KeywordIndexModel::TargetsRole).toStringList();
    if (urls.isEmpty())
        return;  // a heading of sub-keywords, or a cross reference
    int chosen = 0;
    if (urls.size() > 1) {
        const QRect at = m_list->visualRect(index);
        chosen = chooseTarget(targetTitles(urls), m_list->viewport()->mapToGlobal(at.bottomLeft()));
        if (chosen < 0 || chosen >= urls.size())
            return;
    }
    emit currentUrlChanged(urls.at(chosen));
}

// The topics' own titles, from a book object opened for the question; a topic without one
// shows its path.
QStringList IndexWidget::targetTitles(const QStringList& urls) const
{
    LCHMFile book;
    const bool open = book.openBook(m_bookPath);
    QStringList titles;
    for (const QString& url : urls) {
        const QString title = open ? book.topicTitleForUrl(url.section(QLatin1Char('#'), 0, 0)) : QString();
        titles.append(title.trimmed().isEmpty() ? url : title);
    }
    return titles;
}

int IndexWidget::chooseTarget(const QStringList& titles, const QPoint& globalPos)
{
    QMenu menu(this);
    for (int i = 0; i < titles.size(); ++i)
        menu.addAction(QString(titles.at(i)).replace(QLatin1Char('&'), QLatin1String("&&")))->setData(i);
    const QAction* chosen = menu.exec(globalPos);
    return chosen ? chosen->data().toInt() : -1;
}

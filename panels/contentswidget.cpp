#include "contentswidget.h"

#include "booklocation.h"
#include "readericons.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QIcon>
#include <QItemSelectionModel>
#include <QMenu>
#include <QAbstractItemModel>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <vector>

namespace {

// Image numbers that have an icon of their own; every other number shows the default icon.
constexpr std::array<int, 7> kOwnIcons = {1, 9, 11, 17, 21, 25, 27};

// The name of the picture shown for an image number (see ReaderIcons).
QString iconName(int imageNumber)
{
    if (std::find(kOwnIcons.begin(), kOwnIcons.end(), imageNumber) != kOwnIcons.end())
        return QStringLiteral("icon%1").arg(imageNumber);
    return QStringLiteral("iconDefault");
}

// Under Qt::UserRole an item keeps its whole target text (several targets joined by "|");
// under this role, the one target a click opens: the first.
constexpr int OpenTargetRole = Qt::UserRole + 1;

// A target as the page it leads to and its fragment. The page is a key under which the book
// finds it: escapes decoded, "\\" as "/", "." and ".." steps gone, and no regard to case.
struct PageKey
{
    QString page;
    QString fragment;
};

PageKey pageKey(const QString& target)
{
    const qsizetype hash = target.indexOf(QLatin1Char('#'));
    QString page = QUrl::fromPercentEncoding(target.left(hash).toUtf8());
    page.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (page.startsWith(QLatin1Char('/')))
        page = makeAbsolutePath(page);
    return {page.toLower(), hash < 0 ? QString() : target.mid(hash + 1)};
}

// The icons, loaded once per tree: entries then share them.
class IconSet
{
public:
    const QIcon& icon(int imageNumber)
    {
        const auto it = std::find(kOwnIcons.begin(), kOwnIcons.end(), imageNumber);
        const std::size_t slot = it == kOwnIcons.end() ? kOwnIcons.size() : std::size_t(it - kOwnIcons.begin());
        if (m_icons[slot].isNull())
            m_icons[slot] = ReaderIcons::icon(iconName(imageNumber));
        return m_icons[slot];
    }

private:
    std::array<QIcon, kOwnIcons.size() + 1> m_icons;
};

// Tool tips only for entries whose text is cut: by the end of the column (where the text is
// elided) or by either side of the viewport. An entry read whole needs no tool tip over it.
class ContentsDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() == QEvent::ToolTip && index.isValid()) {
            const int visibleRight = std::min(option.rect.right(), view->viewport()->width() - 1);
            const bool cut = option.rect.left() < 0 || option.rect.left() + sizeHint(option, index).width() - 1 > visibleRight;
            if (!cut) {
                QToolTip::hideText();
                return true;
            }
        }
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
};

} // namespace

// The contents as a read-only tree straight over the parsed entries: a few integers per entry
// instead of an item object with copies of its texts, so that a book of 20,000 entries costs
// a few hundred kilobytes here. The nesting comes from the indents alone, and never changes
// once built; an index's internal id is the number of its entry.
class ContentsModel : public QAbstractItemModel
{
public:
    ContentsModel(const QVector<LCHMParsedEntry>& entries, QObject* parent)
        : QAbstractItemModel(parent)
        , m_entries(entries)
    {
        // parentStack holds the entries that can still take children; indentStack their
        // indents, above a bottom 0 that stands for the top level.
        const int n = int(m_entries.size());
        m_parent.assign(n, -1);
        std::vector<int> parentStack;
        std::vector<int> indentStack{0};
        const auto pop = [&] {
            parentStack.pop_back();
            indentStack.pop_back();
        };
        for (int i = 0; i < n; ++i) {
            // A negative indent counts as the top level.
            const int k = std::max(m_entries.at(i).indent, 0);
            if (k > 0 && !parentStack.empty()) {
                if (k == indentStack.back()) {
                    pop();
                } else if (k < indentStack.back()) {
                    pop();
                    while (!parentStack.empty() && indentStack.back() >= k)
                        pop();
                }
            }
            // An entry deeper than any earlier one (the entries starting above indent 0) has
            // no parent and goes to the top level.
            if (k > 0 && !parentStack.empty())
                m_parent[i] = parentStack.back();
            parentStack.push_back(i);
            indentStack.push_back(k);
        }
        // Children grouped by parent, in entry order; the top level is the slot past the end.
        m_childStart.assign(n + 2, 0);
        for (int i = 0; i < n; ++i)
            ++m_childStart[slotOf(m_parent[i]) + 1];
        for (int slot = 1; slot <= n + 1; ++slot)
            m_childStart[slot] += m_childStart[slot - 1];
        m_children.resize(n);
        m_row.resize(n);
        std::vector<int> filled(n + 1, 0);
        for (int i = 0; i < n; ++i) {
            const int slot = slotOf(m_parent[i]);
            m_row[i] = filled[slot]++;
            m_children[m_childStart[slot] + m_row[i]] = i;
        }
    }

    int entryCount() const { return int(m_entries.size()); }
    const LCHMParsedEntry& entry(int i) const { return m_entries.at(i); }
    QModelIndex indexOf(int i) const { return createIndex(m_row[i], 0, quintptr(i)); }
    static int entryOf(const QModelIndex& index) { return index.isValid() ? int(index.internalId()) : -1; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override
    {
        const int slot = slotOf(entryOf(parent));
        if (column != 0 || row < 0 || row >= childCount(slot))
            return {};
        return createIndex(row, 0, quintptr(m_children[m_childStart[slot] + row]));
    }
    QModelIndex parent(const QModelIndex& child) const override
    {
        const int p = child.isValid() ? m_parent[entryOf(child)] : -1;
        return p < 0 ? QModelIndex() : indexOf(p);
    }
    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.column() > 0 ? 0 : childCount(slotOf(entryOf(parent)));
    }
    int columnCount(const QModelIndex& = {}) const override { return 1; }
    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid())
            return {};
        const LCHMParsedEntry& e = m_entries.at(entryOf(index));
        switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return e.name;
        case Qt::DecorationRole:
            return m_icons.icon(e.imageNumber);
        case Qt::UserRole:
            return e.urls.join(QLatin1Char('|'));
        case OpenTargetRole:
            return e.urls.size() > 1 ? QVariant(e.urls.first()) : QVariant();
        default:
            return {};
        }
    }

private:
    int slotOf(int parentEntry) const { return parentEntry < 0 ? int(m_entries.size()) : parentEntry; }
    int childCount(int slot) const { return m_childStart[slot + 1] - m_childStart[slot]; }

    const QVector<LCHMParsedEntry> m_entries;   // shares the window's copy
    std::vector<int> m_parent;                  // -1 at the top level
    std::vector<int> m_row;                     // row under the parent
    std::vector<int> m_childStart;              // per parent slot, into m_children
    std::vector<int> m_children;
    mutable IconSet m_icons;
};

ContentsWidget::ContentsWidget(QWidget* parent)
    : QWidget(parent)
    , m_tree(new QTreeView(this))
{
    // One column that is at least 600 pixels wide: in a narrow dock the tree scrolls sideways
    // instead of cutting long titles short.
    m_tree->header()->hide();
    m_tree->header()->setMinimumSectionSize(600);
    // Every row is one line of text beside a 16-pixel icon; this keeps large trees fast.
    m_tree->setUniformRowHeights(true);
    m_tree->setItemDelegate(new ContentsDelegate(m_tree));
    setAccessibleName(tr("Contents"));
    m_tree->setAccessibleName(tr("Contents"));
    m_tree->setAccessibleDescription(tr("The book's table of contents; Enter opens the page of an entry"));

    connect(m_tree, &QTreeView::clicked, this, &ContentsWidget::setCurrentUrl);
    connect(m_tree, &QTreeView::doubleClicked, this, &ContentsWidget::setCurrentUrl);
    // Enter on the current entry (and, where the style says so, a click).
    connect(m_tree, &QTreeView::activated, this, &ContentsWidget::setCurrentUrl);
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_tree, &QWidget::customContextMenuRequested, this, &ContentsWidget::showContextMenu);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_tree);
}

void ContentsWidget::showContextMenu(const QPoint& pos)
{
    if (!m_model)
        return;
    // The chapter commands need an entry: one without a page of its own heads its branch too.
    const QModelIndex index = m_tree->indexAt(pos);
    const int entry = index.isValid() ? int(index.internalId()) : -1;
    const bool chapter = entry >= 0;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    for (QAction* command : {menu->addAction(tr("Print This Chapter\u2026"), this, [this, entry] { emit printChapterRequested(entry); }),
                             menu->addAction(tr("Print Preview of This Chapter\u2026"), this, [this, entry] { emit previewChapterRequested(entry); }),
                             menu->addAction(tr("Export This Chapter as PDF\u2026"), this, [this, entry] { emit exportChapterRequested(entry); })})
        command->setEnabled(chapter);
    menu->addSeparator();
    menu->addAction(tr("Print Whole Book\u2026"), this, &ContentsWidget::printBookRequested);
    menu->addAction(tr("Export Book as PDF\u2026"), this, &ContentsWidget::exportBookRequested);
    menu->popup(m_tree->viewport()->mapToGlobal(pos));
}

QString ContentsWidget::iconPathForImageNumber(int imageNumber)
{
    return ReaderIcons::ownPath(iconName(imageNumber));
}

void ContentsWidget::setCurrentContents(QVector<LCHMParsedEntry>* contents)
{
    auto* model = new ContentsModel(contents ? *contents : QVector<LCHMParsedEntry>(), this);

    // Every entry under each page it leads to, in entry order, which is the order of the tree.
    m_entriesByPage.clear();
    for (int i = 0; i < model->entryCount(); ++i) {
        for (const QString& url : model->entry(i).urls)
            m_entriesByPage[pageKey(url).page].append(i);
    }

    // The view keeps neither the old model nor the selection model it made for it.
    QAbstractItemModel* oldModel = m_tree->model();
    QItemSelectionModel* oldSelection = m_tree->selectionModel();
    m_tree->setModel(model);
    m_model = model;
    delete oldSelection;
    if (oldModel && oldModel->parent() == this)
        delete oldModel;
}

void ContentsWidget::setCurrentUrl(const QModelIndex& currentIndex)
{
    const QAbstractItemModel* model = m_tree->model();
    if (!model || currentIndex.model() != model)
        return;
    QString url = model->data(currentIndex, OpenTargetRole).toString();
    if (url.isEmpty())
        url = model->data(currentIndex, Qt::UserRole).toString();
    if (url.isEmpty() || url == m_lastUrl)
        return;
    m_lastUrl = url;
    emit currentUrlChanged(url);
}

void ContentsWidget::showPage(const QString& path)
{
    QItemSelectionModel* selection = m_tree->selectionModel();
    if (!selection)
        return;
    const PageKey shown = pageKey(path);
    // Lower is better: the same fragment, no fragment, another fragment of the page.
    auto rank = [&shown](const QModelIndex& index) {
        int best = 2;
        for (const QString& url : index.data(Qt::UserRole).toString().split(QLatin1Char('|'))) {
            const PageKey target = pageKey(url);
            if (target.page != shown.page)
                continue;
            if (!shown.fragment.isEmpty() && target.fragment == shown.fragment)
                return 0;
            if (target.fragment.isEmpty())
                best = 1;
        }
        return best;
    };

    const QVector<int> entries = m_entriesByPage.value(shown.page);
    QModelIndex chosen;
    int chosenRank = 3;
    for (const int entry : entries) {
        const QModelIndex index = m_model->indexOf(entry);
        if (const int r = rank(index); r < chosenRank) {
            chosen = index;
            chosenRank = r;
        }
    }
    const QModelIndex current = m_tree->currentIndex();
    if (chosen.isValid() && entries.contains(ContentsModel::entryOf(current)) && rank(current) == chosenRank)
        chosen = current;

    if (!chosen.isValid()) {
        m_lastUrl = path;
        selection->clear();
        return;
    }
    const QString openTarget = chosen.data(OpenTargetRole).toString();
    m_lastUrl = openTarget.isEmpty() ? chosen.data(Qt::UserRole).toString() : openTarget;
    // Selecting an entry starts nothing: only clicks and Enter ask for pages.
    for (QModelIndex parent = chosen.parent(); parent.isValid(); parent = parent.parent())
        m_tree->expand(parent);
    selection->setCurrentIndex(chosen, QItemSelectionModel::ClearAndSelect);
    m_tree->scrollTo(chosen);
    scrollSidewaysTo(chosen);
}

// The tree's own scrollTo() moves sideways only to the column's start, which leaves a deep or
// long entry out of sight in a narrow dock. The entry is brought in whole when it fits, and
// else from its start, with the branch mark before it when there is room.
void ContentsWidget::scrollSidewaysTo(const QModelIndex& index)
{
    // The entry's icon and text, from the end of its row's indentation, in viewport coordinates.
    const int viewportWidth = m_tree->viewport()->width();
    const int left = m_tree->visualRect(index).left();
    const int width = m_tree->sizeHintForIndex(index).width();
    if (left >= 0 && left + width <= viewportWidth)
        return;
    const int shift = left >= 0 && width <= viewportWidth ? left + width - viewportWidth : left - m_tree->indentation();
    QScrollBar* bar = m_tree->horizontalScrollBar();
    bar->setValue(bar->value() + shift);   // clamped to the bar's range
}

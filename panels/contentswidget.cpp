#include "contentswidget.h"

#include "booklocation.h"

#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

namespace {

// Image numbers that have an icon of their own; every other number shows the default icon.
constexpr std::array<int, 7> kOwnIcons = {1, 9, 11, 17, 21, 25, 27};

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

// The icons, loaded once per build of the tree: items then share them.
class IconSet
{
public:
    const QIcon& icon(int imageNumber)
    {
        const auto it = std::find(kOwnIcons.begin(), kOwnIcons.end(), imageNumber);
        const std::size_t slot = it == kOwnIcons.end() ? kOwnIcons.size() : std::size_t(it - kOwnIcons.begin());
        if (m_icons[slot].isNull())
            m_icons[slot] = QIcon(ContentsWidget::iconPathForImageNumber(imageNumber));
        return m_icons[slot];
    }

private:
    std::array<QIcon, kOwnIcons.size() + 1> m_icons;
};

} // namespace

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

    connect(m_tree, &QTreeView::clicked, this, &ContentsWidget::setCurrentUrl);
    connect(m_tree, &QTreeView::doubleClicked, this, &ContentsWidget::setCurrentUrl);
    // Enter on the current entry (and, where the style says so, a click).
    connect(m_tree, &QTreeView::activated, this, &ContentsWidget::setCurrentUrl);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_tree);
}

QString ContentsWidget::iconPathForImageNumber(int imageNumber)
{
    if (std::find(kOwnIcons.begin(), kOwnIcons.end(), imageNumber) != kOwnIcons.end())
        return QStringLiteral(":/images/icon%1.png").arg(imageNumber);
    return QStringLiteral(":/images/iconDefault.png");
}

void ContentsWidget::setCurrentContents(QVector<LCHMParsedEntry>* contents)
{
    static const QVector<LCHMParsedEntry> none;
    QStandardItemModel* model = buildModel(contents ? *contents : none);

    // The view keeps neither the old model nor the selection model it made for it.
    QAbstractItemModel* oldModel = m_tree->model();
    QItemSelectionModel* oldSelection = m_tree->selectionModel();
    m_tree->setModel(model);
    delete oldSelection;
    if (oldModel && oldModel->parent() == this)
        delete oldModel;
}

// The nesting comes from the indents alone. parentStack holds the items that can still take
// children; indentStack their indents, above a bottom 0 that stands for the top level.
QStandardItemModel* ContentsWidget::buildModel(const QVector<LCHMParsedEntry>& entries)
{
    auto* model = new QStandardItemModel(this);
    IconSet icons;

    QList<QStandardItem*> topLevel;
    QVector<QStandardItem*> parentStack;
    QVector<int> indentStack{0};
    auto pop = [&] {
        parentStack.removeLast();
        indentStack.removeLast();
    };

    for (const LCHMParsedEntry& entry : entries) {
        auto* item = new QStandardItem(entry.name);
        item->setToolTip(entry.name);
        item->setData(entry.urls.join(QLatin1Char('|')), Qt::UserRole);
        if (entry.urls.size() > 1)
            item->setData(entry.urls.first(), OpenTargetRole);
        item->setIcon(icons.icon(entry.imageNumber));
        item->setEditable(false);

        // A negative indent counts as the top level.
        const int k = std::max(entry.indent, 0);
        if (k > 0 && !parentStack.isEmpty()) {
            if (k == indentStack.last()) {
                pop();
            } else if (k < indentStack.last()) {
                pop();
                while (!parentStack.isEmpty() && indentStack.last() >= k)
                    pop();
            }
        }
        // An entry deeper than any earlier one (the vector starting above indent 0) has no
        // parent and goes to the top level.
        if (k == 0 || parentStack.isEmpty())
            topLevel.append(item);
        else
            parentStack.last()->appendRow(item);

        parentStack.append(item);
        indentStack.append(k);
    }

    // Rows are added to the model in one step, after the subtrees are complete.
    model->invisibleRootItem()->appendRows(topLevel);

    // Every entry under each page it leads to, in the order of the tree.
    m_entriesByPage.clear();
    QVector<QModelIndex> pending;
    for (int row = model->rowCount() - 1; row >= 0; --row)
        pending.append(model->index(row, 0));
    while (!pending.isEmpty()) {
        const QModelIndex index = pending.takeLast();
        const QString targets = index.data(Qt::UserRole).toString();
        if (!targets.isEmpty()) {
            for (const QString& url : targets.split(QLatin1Char('|')))
                m_entriesByPage[pageKey(url).page].append(index);
        }
        for (int row = model->rowCount(index) - 1; row >= 0; --row)
            pending.append(model->index(row, 0, index));
    }
    return model;
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

    const QVector<QModelIndex> entries = m_entriesByPage.value(shown.page);
    QModelIndex chosen;
    int chosenRank = 3;
    for (const QModelIndex& index : entries) {
        if (const int r = rank(index); r < chosenRank) {
            chosen = index;
            chosenRank = r;
        }
    }
    const QModelIndex current = m_tree->currentIndex();
    if (chosen.isValid() && entries.contains(current) && rank(current) == chosenRank)
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
}

#pragma once

#include <QStyledItemDelegate>

// Paints a search result: its text (the title, and the in-book path on a second line when
// titles repeat) and under it one line of the page's text around the first match, the matched
// words in bold (a SearchSnippet under SnippetRole). A line that does not fit ends in "…".
// While the snippet is still being made (no SnippetRole data yet) its line is kept free, so
// that rows do not jump when it arrives; an empty snippet (a page that cannot be read) leaves
// the title alone, and the delegate announces the smaller row with sizeHintChanged.
class SearchResultDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int SnippetRole = Qt::UserRole + 1;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

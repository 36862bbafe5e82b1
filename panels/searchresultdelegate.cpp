#include "searchresultdelegate.h"

#include "querymatcher.h"

#include <QApplication>
#include <QPainter>

namespace {

// Whether the row keeps a line for its snippet: one is there, or is still being made.
bool hasSnippetLine(const QModelIndex& index)
{
    const QVariant snippet = index.data(SearchResultDelegate::SnippetRole);
    return !snippet.isValid() || !snippet.value<SearchSnippet>().isEmpty();
}

} // namespace

QSize SearchResultDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // As wide as the list, whatever the text: long titles and lines end in "…" rather than
    // making the list scroll sideways (the tool tip holds the whole title).
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(1);
    // A snippet's row has a line more, and a little room below it so that one result does not
    // run into the next.
    if (hasSnippetLine(index))
        size.rheight() += option.fontMetrics.lineSpacing() + option.fontMetrics.lineSpacing() / 3;
    return size;
}

void SearchResultDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QStringList lines = opt.text.split(QLatin1Char('\n'));
    const SearchSnippet snippet = index.data(SnippetRole).value<SearchSnippet>();

    // The row's background, selection and focus as the style draws them; the text is ours.
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    opt.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect area = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget).adjusted(margin, 0, -margin, 0);
    const int lineHeight = opt.fontMetrics.lineSpacing();
    const int lineCount = int(lines.size()) + (hasSnippetLine(index) ? 1 : 0);
    int y = area.top() + std::max(0, (area.height() - lineCount * lineHeight) / 2);

    const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
        : (opt.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
    painter->save();
    painter->setClipRect(area);
    painter->setPen(opt.palette.color(group, (opt.state & QStyle::State_Selected) ? QPalette::HighlightedText
                                                                                   : QPalette::Text));
    painter->setFont(opt.font);
    for (const QString& line : lines) {
        painter->drawText(QRect(area.left(), y, area.width(), lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                          opt.fontMetrics.elidedText(line, Qt::ElideRight, area.width()));
        y += lineHeight;
    }

    // The snippet, piece by piece in the plain or the bold font, cut with "…" at the row's end;
    // softer than the title unless the row is selected.
    if (!(opt.state & QStyle::State_Selected)) {
        const QColor text = opt.palette.color(group, QPalette::Text);
        const QColor base = opt.palette.color(group, QPalette::Base);
        painter->setPen(QColor::fromRgbF((text.redF() * 2 + base.redF()) / 3, (text.greenF() * 2 + base.greenF()) / 3,
                                         (text.blueF() * 2 + base.blueF()) / 3));
    }
    QFont bold = opt.font;
    bold.setBold(true);
    int x = area.left();
    qsizetype at = 0;
    const auto drawPiece = [&](qsizetype end, const QFont& font) {
        if (end <= at || x > area.right())
            return;
        const QString piece = snippet.text.mid(at, end - at);
        at = end;
        const QFontMetrics metrics(font);
        const int room = area.right() + 1 - x;
        const int width = metrics.horizontalAdvance(piece);
        painter->setFont(font);
        painter->drawText(QRect(x, y, room, lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                          width <= room ? piece : metrics.elidedText(piece, Qt::ElideRight, room));
        x = width <= room ? x + width : area.right() + 1;
    };
    for (const auto& [start, end] : snippet.bold) {
        drawPiece(start, opt.font);
        drawPiece(end, bold);
    }
    drawPiece(snippet.text.size(), opt.font);
    painter->restore();
}

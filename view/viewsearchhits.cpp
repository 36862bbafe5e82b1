// The keyword of a search result, painted on the page the result opened.
#include "browsercontrol.h"
#include "textrange.h"
#include "viewwidget.h"

namespace {

const QString kSearchHitColor = QStringLiteral("#00bfff");

} // namespace

void ViewWidget::paintSearchKeyword()
{
    // The whole page is selected and the selection dropped again, as before: whatever was
    // selected when the page loaded is gone.
    browser->selectAll();
    TextRange range = browser->documentRange();
    if (range.findText(searchKeyword)) {
        browser->paintBackground(range, kSearchHitColor);
    } else {
        // Word by word, each looked for from the last match on.
        const QStringList words = searchKeyword.split(QLatin1Char(' '));
        for (const QString& word : words) {
            if (range.findText(word))
                browser->paintBackground(range, kSearchHitColor);
        }
    }
    browser->unselect();
    searchPending = false;
}

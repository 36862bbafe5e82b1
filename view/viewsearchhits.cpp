// The terms of a search result's query, painted on the page the result opened.
#include "browsercontrol.h"
#include "searchquery.h"
#include "textrange.h"
#include "viewwidget.h"

#include <QRegularExpression>

namespace {

const QString kSearchHitColor = QStringLiteral("#00bfff");

// A pattern for words that follow each other in the page's characters, in any letter case,
// with anything but letters and digits between them. With wholeWords, a match must not start
// or end inside a longer word, as the index stores words; without, it may, and nothing need
// stand between the words.
QRegularExpression termPattern(const QStringList& words, bool wholeWords)
{
    const QString wordChar = QStringLiteral("[\\p{L}\\p{N}\\p{M}_]");
    QStringList escaped;
    for (const QString& word : words)
        escaped << QRegularExpression::escape(word);
    QString pattern = escaped.join(wholeWords ? QStringLiteral("[^\\p{L}\\p{N}\\p{M}_]+")
                                              : QStringLiteral("[^\\p{L}\\p{N}\\p{M}_]*"));
    if (wholeWords)
        pattern = QStringLiteral("(?<!%1)%2(?!%1)").arg(wordChar, pattern);
    return QRegularExpression(pattern, QRegularExpression::CaseInsensitiveOption
                                           | QRegularExpression::UseUnicodePropertiesOption);
}

} // namespace

void ViewWidget::paintSearchKeyword()
{
    // The whole page is selected and the selection dropped again, as before: whatever was
    // selected when the page loaded is gone.
    browser->selectAll();
    const QString text = browser->pageText();
    // What the search matched: each phrase as a phrase and each word it required, the first
    // place each occurs, in any letter case. Words the query excluded are not on the page.
    const SearchQuery::Terms terms = SearchQuery::parse(searchKeyword);
    QVector<QStringList> wanted;
    for (QStringList phrase : terms.phrases) {
        phrase.removeAll(QString());
        if (!phrase.isEmpty())
            wanted << phrase;
    }
    for (const QString& word : terms.includeWords) {
        if (!word.isEmpty())
            wanted << QStringList{word};
    }
    // Scripts written without spaces between words have no word ends to look for.
    static const QRegularExpression unspaced(
        QStringLiteral("[\\p{Han}\\p{Hiragana}\\p{Katakana}\\p{Thai}\\p{Lao}\\p{Khmer}\\p{Myanmar}]"),
        QRegularExpression::UseUnicodePropertiesOption);
    for (const QStringList& words : std::as_const(wanted)) {
        const bool wholeWords = !words.join(QString()).contains(unspaced);
        const QRegularExpressionMatch match = termPattern(words, wholeWords).match(text);
        if (match.hasMatch())
            browser->paintBackground(TextRange(text, int(match.capturedStart()), int(match.capturedEnd())),
                                     kSearchHitColor);
    }
    browser->unselect();
    searchPending = false;
}

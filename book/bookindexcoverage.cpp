// Whether a book's own full-text index holds the words of its pages, or only their titles.

#include "lchmfile.h"
#include "pagetext.h"
#include "textindex.h"

#include <QSet>

#include <algorithm>

bool TextIndex::bookIndexCoversPages(LCHMFile& book)
{
    if (!book.hasSearchWords())
        return false;
    const QStringList pages = htmlPages(book);
    constexpr int kSamplePages = 16;
    constexpr int kWordsPerPage = 4;
    constexpr int kEnoughWords = 3;
    const qsizetype step = std::max<qsizetype>(1, pages.size() / kSamplePages);
    int tried = 0, found = 0;
    for (qsizetype p = 0; p < pages.size(); p += step) {
        const QString& path = pages.at(p);
        QByteArray html;
        if (!book.readFileBytes(&html, path))
            continue;
        const PageText text = pageText(book, html);
        const QString titles = text.title + QLatin1Char(' ') + book.topicTitleForUrl(path);
        QSet<QString> titleWords;
        forEachToken(titles, [&titleWords](QStringView t) { titleWords.insert(t.toString().toLower()); });
        QSet<QString> chosen;
        forEachToken(text.body, [&](QStringView token) {
            if (chosen.size() >= kWordsPerPage)
                return;
            // Indexes of ideographic scripts differ in how they cut a run of characters
            // into words, but all of them hold its characters: a character that no title
            // holds stands for the run. Other words are taken whole.
            QString word = token.toString().toLower();
            if (word.at(0).unicode() >= 0x2E80) {
                const auto fresh = std::find_if(word.cbegin(), word.cend(), [&titles](QChar c) {
                    return c.unicode() >= 0x2E80 && !c.isSurrogate() && !titles.contains(c);
                });
                if (fresh != word.cend())
                    chosen.insert(QString(*fresh));
                return;
            }
            if (word.size() < 3 || word.size() > 24 || word.at(0).isDigit() || titleWords.contains(word))
                return;
            chosen.insert(word);
        });
        for (const QString& word : std::as_const(chosen)) {
            QStringList results;
            book.fullTextSearch(word, &results, 700);
            ++tried;
            if (results.contains(path) || results.size() >= 700)
                ++found;
            else
                qCDebug(lcTextIndex) << "not in the book's index:" << word << path;
        }
    }
    if (tried < kEnoughWords)
        return true;   // too little text to judge by: the book's index is kept
    qCDebug(lcTextIndex) << "book index holds" << found << "of" << tried << "sampled page words";
    return found * 2 >= tried;
}

#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

// The text of one HTML page as the reader's index sees it: what a reader sees of the page,
// without tags, comments, scripts and styles, entities decoded. The title is kept apart.
// TextIndex::pageText makes it.
struct PageText
{
    QString title;
    QString body;
};

inline bool isWordChar(char32_t c)
{
    return c == '_' || QChar::isLetterOrNumber(c) || QChar::isMark(c);
}

// Calls `word` for every run of word characters (letters, digits, marks, "_") in `text`: the
// words of page text as the text index stores them.
template <typename Word>
void forEachToken(const QString& text, Word&& word)
{
    const qsizetype n = text.size();
    qsizetype start = -1;
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text.at(i).unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            width = 2;
        }
        if (isWordChar(c)) {
            if (start < 0)
                start = i;
        } else if (start >= 0) {
            word(QStringView(text).mid(start, i - start));
            start = -1;
        }
        i += width - 1;
    }
    if (start >= 0)
        word(QStringView(text).mid(start));
}


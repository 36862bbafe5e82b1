#pragma once

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QString>
#include <QVector>

#include <utility>

class LCHMFile;

// One line of a page's text around the place that answers a query: the text with its runs of
// white space made single spaces and "…" where it was cut, and the ranges [start, end) of that
// text that match a term of the query, ascending and apart. Empty when the page has no text.
struct SearchSnippet
{
    QString text;
    QVector<std::pair<qsizetype, qsizetype>> bold;

    bool isEmpty() const { return text.isEmpty(); }
    // The text as rich text, the matches in <b> and everything else escaped.
    QString toHtml() const;
};
Q_DECLARE_METATYPE(SearchSnippet)

// Finds a query's terms in text the way the reader's text index reads it: the text splits into
// words where the index splits it (forEachToken), every word is folded by the book into the
// keys its search stores (the same case and accent folding, one key per character in Chinese,
// Japanese and Korean books), and a term matches where its keys follow each other. The terms
// are the query's phrases and its words (with or without "+"); "-" words never match, since the
// pages found do not hold them.
//
// Reads no more of a text than it needs: a snippet stops at its own end, holdsAllTerms when
// every term was seen. Not thread-safe; one matcher per thread, over a book open on that thread.
class QueryMatcher
{
public:
    // Characters of text before the first match, at most (few, so that the match stays in
    // sight in a narrow list), and of the whole snippet, at least when the text has them (a
    // longer match makes the snippet longer); a run of white space counts as one.
    static constexpr qsizetype ContextBefore = 20;
    static constexpr qsizetype SnippetLength = 120;

    QueryMatcher(const LCHMFile& book, const QString& query);

    // Whether the query has a term that text can match.
    bool hasTerms() const { return !m_terms.isEmpty(); }
    // Whether every term of the query occurs in `text` (false without terms).
    bool holdsAllTerms(const QString& text) const;
    // The line around the first match in `text`, cut at word boundaries, with every match
    // inside it in bold. Without a match (a page found by its title alone) the start of the
    // text, without bold.
    SearchSnippet snippet(const QString& text) const;

private:
    // Calls onMatch(term, start, end) for every match in `text` that starts before `*stop`,
    // in text order, until onMatch returns false. onMatch may lower `*stop`.
    template <typename OnMatch>
    void scan(const QString& text, const qsizetype* stop, OnMatch&& onMatch) const;

    // A word's keys and where each begins in it, kept per word of text: pages repeat their
    // words, and folding is the costly part of a scan.
    struct Folded
    {
        QVector<QByteArray> keys;
        QVector<qsizetype> starts;   // empty when they cannot be told (see scan)
    };
    const Folded& fold(QStringView word) const;

    const LCHMFile& m_book;
    mutable QHash<QString, Folded> m_folded;
    QVector<QVector<QByteArray>> m_terms;
    qsizetype m_longestTerm = 0;
};

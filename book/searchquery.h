#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

// One topic that matched a search term.
struct SearchHit
{
    QVector<quint64> locations;  // the word's location codes in the topic (phrase mode only)
    quint32 urlOffset = 0;       // identifies the topic within the source that found it
};
using SearchHitList = QVector<SearchHit>;

// A store of words that queries are answered from: the book's own full-text index, or the
// text index the reader builds from the book's pages. Both store a word as folded bytes
// (its keys) with the topics that hold it and its positions there; a position directly
// after another is the next word of the same text.
class SearchWordSource
{
public:
    virtual ~SearchWordSource() = default;
    // The keys one query word is stored under, in order. Several keys must follow each other
    // (the characters of a Japanese word). Empty when the word cannot occur in the store.
    virtual QVector<QByteArray> searchKeys(const QString& word) const = 0;
    // Appends one hit per topic that holds `key`, in topic order; with `positions`, each
    // hit carries the key's positions in its topic. False when the key is not stored or its
    // record cannot be read.
    virtual bool lookupKey(const QByteArray& key, bool positions, SearchHitList* hits) = 0;
    // What looking `key` up costs, for matching a phrase from its rarest key: any measure
    // that grows with the key's postings. Negative when the key is not stored. Stores that
    // cannot tell answer 0 for every key, and phrases are then matched in their order.
    virtual qint64 keyCost(const QByteArray& key) { Q_UNUSED(key); return 0; }
    // Keeps in `working` (hits whose locations are candidate positions, each hit one topic)
    // the positions p where `key` occurs at p + offset in the same topic, and the hits that
    // keep a position. False when the key is not stored or its record cannot be read. The
    // default looks the whole key up; a store may read it only in the topics of `working`.
    virtual bool keepWhereKeyAt(const QByteArray& key, quint64 offset, SearchHitList* working);
};

// The query language: words that must all occur, "quoted phrases" whose words must follow
// each other, +word (the same as word) and -word (topics holding it are dropped). Query
// words keep only letters, digits, marks, "_" and ".".
namespace SearchQuery {

// The topics holding `word`; with `phraseMode` each hit carries the positions of the word's
// last key. False when the word is not stored.
bool lookupWord(SearchWordSource& source, const QString& word, bool phraseMode, SearchHitList* hits);
// The topics where `words` follow each other; false when none does or a word is not stored.
bool lookupPhrase(SearchWordSource& source, const QStringList& words, SearchHitList* hits);
// Removes from `word` everything a query word cannot hold.
void cleanWord(QString& word);
// A query read into its parts, each word cleaned: the "quoted phrases" (a phrase's empty words
// stay, so that it matches nothing), the words that must occur (+word among them) and the
// -words whose topics are dropped.
struct Terms
{
    QVector<QStringList> phrases;
    QStringList includeWords;
    QStringList excludeWords;
};
Terms parse(const QString& query);
// The topics that answer `query`, in the order of its first phrase or word. False when a
// phrase or a required word is not stored at all (nothing can match then). With
// `occurrences`, adds per topic how often the query's phrases and required words occur in it
// (a hit without positions counts once); topics outside the result may be counted too.
bool evaluate(SearchWordSource& source, const QString& query, SearchHitList* result,
              QHash<quint32, int>* occurrences = nullptr);

} // namespace SearchQuery

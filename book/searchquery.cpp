// Query evaluation over any store of words: words, "phrases", +word and -word.

#include "searchquery.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

constexpr quint64 kNoPosition = std::numeric_limits<quint64>::max();

// Keeps, per topic, the candidate positions p where the next key lies at p + offset.
void keepFollowers(SearchHitList* working, const SearchHitList& next, quint64 offset)
{
    QHash<quint32, qsizetype> nextByTopic;
    for (qsizetype i = 0; i < next.size(); ++i) {
        if (!nextByTopic.contains(next.at(i).urlOffset))
            nextByTopic.insert(next.at(i).urlOffset, i);
    }
    SearchHitList kept;
    for (SearchHit& hit : *working) {
        const auto found = nextByTopic.constFind(hit.urlOffset);
        if (found == nextByTopic.constEnd())
            continue;
        const QVector<quint64>& following = next.at(*found).locations;
        // Positions usually come in ascending order, and a binary search then needs no set.
        const bool sorted = std::is_sorted(following.cbegin(), following.cend());
        QSet<quint64> followingSet;
        if (!sorted)
            followingSet = QSet<quint64>(following.cbegin(), following.cend());
        QVector<quint64> positions;
        for (quint64 position : std::as_const(hit.locations)) {
            if (position == kNoPosition || position > kNoPosition - 1 - offset)
                continue;
            const quint64 wanted = position + offset;
            const bool follows = sorted ? std::binary_search(following.cbegin(), following.cend(), wanted)
                                        : followingSet.contains(wanted);
            if (follows)
                positions.append(position);
        }
        if (positions.isEmpty())
            continue;
        hit.locations = std::move(positions);
        kept.append(std::move(hit));
    }
    *working = std::move(kept);
}

// The topics where the keys occur one right after the other; each hit carries the
// positions of the last key. False when a key is not stored. The rarest key is looked up
// first, at the positions where a sequence could start; the others only narrow them, from
// the next rarest on, so that common keys are read where few topics are left.
bool lookupSequence(SearchWordSource& source, const QVector<QByteArray>& keys, SearchHitList* result)
{
    if (keys.isEmpty())
        return false;
    if (keys.size() == 1)
        return source.lookupKey(keys.first(), true, result);
    std::vector<qint64> costs;
    costs.reserve(size_t(keys.size()));
    for (const QByteArray& key : keys) {
        costs.push_back(source.keyCost(key));
        if (costs.back() < 0)
            return false;
    }
    std::vector<qsizetype> order(costs.size());
    for (size_t k = 0; k < order.size(); ++k)
        order[k] = qsizetype(k);
    std::stable_sort(order.begin(), order.end(), [&costs](qsizetype a, qsizetype b) { return costs[size_t(a)] < costs[size_t(b)]; });

    // Locations are start positions until the end: the rarest key's, less its place.
    const qsizetype rarest = order.front();
    SearchHitList working;
    if (!source.lookupKey(keys.at(rarest), true, &working))
        return false;
    for (SearchHit& hit : working) {
        hit.locations.removeIf([rarest](quint64 position) { return position == kNoPosition || position < quint64(rarest); });
        for (quint64& position : hit.locations)
            position -= quint64(rarest);
    }
    working.removeIf([](const SearchHit& hit) { return hit.locations.isEmpty(); });
    for (size_t k = 1; k < order.size() && !working.isEmpty(); ++k) {
        if (!source.keepWhereKeyAt(keys.at(order[k]), quint64(order[k]), &working))
            return false;
    }
    const quint64 last = quint64(keys.size() - 1);
    for (SearchHit& hit : working) {
        for (quint64& position : hit.locations)
            position += last;
    }
    *result = std::move(working);
    return true;
}

QSet<quint32> topicsOf(const SearchHitList& hits)
{
    QSet<quint32> topics;
    for (const SearchHit& hit : hits)
        topics.insert(hit.urlOffset);
    return topics;
}

} // namespace

bool SearchWordSource::keepWhereKeyAt(const QByteArray& key, quint64 offset, SearchHitList* working)
{
    SearchHitList next;
    if (!lookupKey(key, true, &next))
        return false;
    keepFollowers(working, next, offset);
    return true;
}

bool SearchQuery::lookupWord(SearchWordSource& source, const QString& word, bool phraseMode, SearchHitList* hits)
{
    if (word.isEmpty() || !hits)
        return false;
    const QVector<QByteArray> keys = source.searchKeys(word);
    if (keys.isEmpty())
        return false;
    if (keys.size() == 1)
        return source.lookupKey(keys.first(), phraseMode, hits);

    SearchHitList found;
    if (!lookupSequence(source, keys, &found) || found.isEmpty())
        return false;
    for (SearchHit& hit : found) {
        if (!phraseMode)
            hit.locations.clear();
        hits->append(std::move(hit));
    }
    return true;
}

namespace {

// The topics where `words` follow each other; with `positions`, each hit keeps the positions
// of the phrase's last key, one per occurrence.
bool phraseHits(SearchWordSource& source, const QStringList& words, bool positions, SearchHitList* hits)
{
    if (words.isEmpty() || !hits)
        return false;
    // A phrase matches where the positions of its words follow each other one by one.
    QVector<QByteArray> keys;
    for (const QString& word : words) {
        const QVector<QByteArray> wordKeys = source.searchKeys(word);
        if (wordKeys.isEmpty())
            return false;
        keys += wordKeys;
    }
    SearchHitList found;
    if (!lookupSequence(source, keys, &found))
        return false;
    for (SearchHit& hit : found) {
        if (!positions)
            hit.locations.clear();
        hits->append(std::move(hit));
    }
    return !hits->isEmpty();
}

} // namespace

bool SearchQuery::lookupPhrase(SearchWordSource& source, const QStringList& words, SearchHitList* hits)
{
    return phraseHits(source, words, false, hits);
}

void SearchQuery::cleanWord(QString& word)
{
    // Keep letters, digits, marks, "_" and "."; everything else goes.
    static const QRegularExpression disallowed(QStringLiteral("[^\\p{L}\\p{N}\\p{M}_.]+"));
    word.remove(disallowed);
}

SearchQuery::Terms SearchQuery::parse(const QString& query)
{
    static const QRegularExpression phrasePattern(
        QStringLiteral("\"(.*?)\""), QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression blanks(
        QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression wordPattern(
        QStringLiteral("([^\\s]+)"), QRegularExpression::UseUnicodePropertiesOption);

    // Quoted phrases first; what lies between them is joined and read as words.
    Terms terms;
    QString rest;
    qsizetype from = 0;
    for (auto it = phrasePattern.globalMatch(query); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        rest += QStringView(query).mid(from, match.capturedStart() - from);
        from = match.capturedEnd();
        QStringList parts = match.captured(1).split(blanks);   // empty parts stay
        for (QString& part : parts)
            cleanWord(part);
        terms.phrases.append(parts);
    }
    rest += QStringView(query).mid(from);

    for (auto it = wordPattern.globalMatch(rest); it.hasNext();) {
        QString word = it.next().captured(1);
        const QChar sign = word.at(0);
        if (sign == QLatin1Char('-') || sign == QLatin1Char('+'))
            word.remove(0, 1);
        cleanWord(word);
        (sign == QLatin1Char('-') ? terms.excludeWords : terms.includeWords).append(word);
    }
    return terms;
}

bool SearchQuery::evaluate(SearchWordSource& source, const QString& query, SearchHitList* out,
                           QHash<quint32, int>* occurrences)
{
    if (!out)
        return false;
    const Terms terms = parse(query);
    // Counting needs every occurrence's position, which a plain lookup may skip.
    const bool counting = occurrences != nullptr;
    const auto count = [occurrences](const SearchHitList& found) {
        if (!occurrences)
            return;
        for (const SearchHit& hit : found)
            (*occurrences)[hit.urlOffset] += int(std::max<qsizetype>(1, hit.locations.size()));
    };

    // Phrases, then include words, narrow the result; exclude words remove from it.
    SearchHitList result;
    bool first = true;
    const auto narrow = [&result, &first](const SearchHitList& found) {
        if (first) {
            result = found;
            first = false;
            return;
        }
        const QSet<quint32> topics = topicsOf(found);
        result.removeIf([&topics](const SearchHit& hit) { return !topics.contains(hit.urlOffset); });
    };

    for (const QStringList& phrase : terms.phrases) {
        SearchHitList found;
        if (!phraseHits(source, phrase, counting, &found))
            return false;
        count(found);
        narrow(found);
    }
    for (const QString& word : terms.includeWords) {
        SearchHitList found;
        if (!lookupWord(source, word, counting, &found))
            return false;
        count(found);
        narrow(found);
    }
    for (const QString& word : terms.excludeWords) {
        if (result.isEmpty())
            break;
        SearchHitList found;
        lookupWord(source, word, false, &found);
        const QSet<quint32> topics = topicsOf(found);
        result.removeIf([&topics](const SearchHit& hit) { return topics.contains(hit.urlOffset); });
    }
    *out = std::move(result);
    return true;
}

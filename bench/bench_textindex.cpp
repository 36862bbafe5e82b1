// The reader's own text index on the generated book of 20,000 topics: building it from every
// page (CPU time; peak memory of the process from getrusage), loading it from its cache file,
// and queries on it against the same queries on the book's own full-text index, in one run.
// Aims: a build under 3 s of CPU, a query under 10 ms, a cache load under 100 ms.

#include "lchmfile.h"
#include "textindex.h"

#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <memory>

#include "bigbook.h"

namespace {

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;   // Linux reports kilobytes
}

TextIndex buildFrom(LCHMFile& book)
{
    TextIndex index;
    for (const QString& path : TextIndex::htmlPages(book))
        index.addPage(book, path);
    index.finishBuild();
    return index;
}

// One book and one index for all queries and cache loads, built on first use.
struct Shared
{
    LCHMFile book;
    TextIndex index;
    TextIndex loaded;   // the same index, read back from its cache file
    QTemporaryDir dir;
    QString cache;
    TextIndex::CacheStamp identity;
};

Shared* shared(benchmark::State& state)
{
    static std::unique_ptr<Shared> s;
    if (s)
        return s.get();
    const QString path = bigBook(state);
    if (path.isEmpty())
        return nullptr;
    s = std::make_unique<Shared>();
    if (!s->book.openBook(path)) {
        state.SkipWithError("cannot open the big book");
        s.reset();
        return nullptr;
    }
    s->index = buildFrom(s->book);
    s->identity = TextIndex::cacheStampOf(s->book);
    s->cache = s->dir.filePath(QStringLiteral("big.idx"));
    if (!s->index.save(s->cache, s->identity) || !s->loaded.load(s->cache, s->identity)) {
        state.SkipWithError("cannot cache the index");
        s.reset();
        return nullptr;
    }
    return s.get();
}

void buildIndex(benchmark::State& state)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return;
    const double before = peakMegabytes();
    int pages = 0, words = 0;
    for (auto _ : state) {
        LCHMFile book;
        if (!book.openBook(path)) {
            state.SkipWithError("cannot open the big book");
            return;
        }
        const TextIndex index = buildFrom(book);
        pages = index.pageCount();
        words = index.wordCount();
    }
    state.counters["pages"] = pages;
    state.counters["words"] = words;
    state.counters["peak_MB"] = peakMegabytes();
    state.counters["peak_rise_MB"] = peakMegabytes() - before;
}

enum class Index { Book, Built, Loaded };

// A query on the book's own index, or on the reader's index as built or as loaded from its
// cache file, all on the open book.
void query(benchmark::State& state, Index which, const QString& text)
{
    Shared* s = shared(state);
    if (!s)
        return;
    qsizetype found = 0;
    for (auto _ : state) {
        QStringList results;
        if (which == Index::Book)
            s->book.fullTextSearch(text, &results, 700);
        else
            (which == Index::Built ? s->index : s->loaded).search(s->book, text, &results, 700);
        found = results.size();
    }
    state.counters["topics"] = double(found);
}

void loadCache(benchmark::State& state)
{
    Shared* s = shared(state);
    if (!s)
        return;
    int pages = 0;
    for (auto _ : state) {
        TextIndex index;
        if (!index.load(s->cache, s->identity)) {
            state.SkipWithError("the cache did not load");
            return;
        }
        pages = index.pageCount();
    }
    state.counters["pages"] = pages;
    state.counters["file_MB"] = double(QFileInfo(s->cache).size()) / (1024.0 * 1024.0);
}

} // namespace

BENCHMARK(buildIndex)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_CAPTURE(query, own_one_word_100_topics, Index::Built, QStringLiteral("zeitgeist"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(query, book_one_word_100_topics, Index::Book, QStringLiteral("zeitgeist"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(query, own_one_word_every_topic, Index::Built, QStringLiteral("omnibus"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(query, book_one_word_every_topic, Index::Book, QStringLiteral("omnibus"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(query, own_three_words_common, Index::Built, QStringLiteral("the omnibus stops"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(query, book_three_words_common, Index::Book, QStringLiteral("the omnibus stops"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(query, own_phrase_every_topic, Index::Built, QStringLiteral("\"the omnibus stops here\""))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(query, book_phrase_every_topic, Index::Book, QStringLiteral("\"the omnibus stops here\""))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(query, loaded_three_words_common, Index::Loaded, QStringLiteral("the omnibus stops"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(query, loaded_phrase_every_topic, Index::Loaded, QStringLiteral("\"the omnibus stops here\""))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(query, own_exclusion, Index::Built, QStringLiteral("omnibus -zeitgeist"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(query, book_exclusion, Index::Book, QStringLiteral("omnibus -zeitgeist"))->Unit(benchmark::kMillisecond);

BENCHMARK(loadCache)->Unit(benchmark::kMillisecond);

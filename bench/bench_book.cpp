// Opening a book and reading its contents, on the generated book of 20,000 topics.
// Baseline in the same run: reading the container's raw bytes from disk. The closing lines give
// the first open (nothing kept from before) and the open of the same unchanged book again as
// ratios to that baseline and to each other, in CPU time.
#include "lchmbookcache.h"
#include "lchmfile.h"
#include "lchmfileimpl.h"

#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>

#include "benchmain.h"
#include "bigbook.h"
#include "ratioreporter.h"

namespace {

// Baseline: read the whole file once, as the cheapest thing any reader must do.
void BM_ReadFileFromDisk(benchmark::State& state)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return;
    for (auto _ : state) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        benchmark::DoNotOptimize(f.readAll());
    }
}
BENCHMARK(BM_ReadFileFromDisk)->Unit(benchmark::kMillisecond);

// Opening for the first time, with nothing kept from an earlier open: directory, metadata and
// codec, which is what the program's start needs; with `title`, also the topic map of 20,000
// topics that the first title asked for builds.
void openBigBookFirst(benchmark::State& state, bool title)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return;
    for (auto _ : state) {
        LCHMBookCache::instance().clear();
        LCHMFile book;
        if (!book.openBook(path) || book.reusedParse())
            state.SkipWithError("cannot open, or opened from the cache");
        if (title)
            benchmark::DoNotOptimize(book.topicTitleForUrl(QStringLiteral("/t0.htm")));
    }
}
BENCHMARK_CAPTURE(openBigBookFirst, BM_OpenBigBook, false)->Name("BM_OpenBigBook")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(openBigBookFirst, BM_OpenBigBookWithTopicMap, true)
    ->Name("BM_OpenBigBookWithTopicMap")->Unit(benchmark::kMillisecond);

// Opening the same unchanged book again, as every part of the program that needs it does, and
// asking for a title.
void BM_OpenBigBookAgain(benchmark::State& state)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return;
    LCHMFile().openBook(path);   // the first open, outside the timing
    for (auto _ : state) {
        LCHMFile book;
        if (!book.openBook(path) || !book.reusedParse())
            state.SkipWithError("cannot open, or read anew");
        benchmark::DoNotOptimize(book.topicTitleForUrl(QStringLiteral("/t0.htm")));
    }
}
BENCHMARK(BM_OpenBigBookAgain)->Unit(benchmark::kMicrosecond);

// Parsing the contents sitemap of 20,000 entries (the book is opened once, outside the timing).
void BM_ParseBigContents(benchmark::State& state)
{
    const QString path = bigBook(state);
    LCHMFile book;
    if (path.isEmpty() || !book.openBook(path))
        return;
    qsizetype entries = 0;
    for (auto _ : state) {
        QVector<LCHMParsedEntry> out;
        book.parseContents(&out);
        entries = out.size();
    }
    state.counters["entries"] = double(entries);
}
BENCHMARK(BM_ParseBigContents)->Unit(benchmark::kMillisecond);

// What loading a book costs the window: open, title, home page, contents, close (from the
// second iteration on, the book opens from what the first one kept, as in the running program).
void BM_LoadBigBook(benchmark::State& state)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return;
    for (auto _ : state) {
        LCHMFile book;
        book.openBook(path);
        benchmark::DoNotOptimize(book.bookTitle());
        benchmark::DoNotOptimize(book.homePage());
        QVector<LCHMParsedEntry> out;
        book.parseContents(&out);
        book.closeBook();
    }
}
BENCHMARK(BM_LoadBigBook)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    RatioReporter reporter({{"BM_OpenBigBook", "BM_ReadFileFromDisk"},
                            {"BM_OpenBigBookWithTopicMap", "BM_ReadFileFromDisk"},
                            {"BM_OpenBigBookAgain", "BM_ReadFileFromDisk"},
                            {"BM_OpenBigBookAgain", "BM_OpenBigBookWithTopicMap"}});
    return runBenchmarks(argc, argv, &reporter);
}

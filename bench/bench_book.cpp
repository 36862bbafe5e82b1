// Opening a book and reading its contents, on the generated book of 20,000 topics.
// Baseline in the same run: reading the container's raw bytes from disk, and opening a small book.
#include "lchmfile.h"
#include "lchmfileimpl.h"

#include <QFile>
#include <QFileInfo>

#include <benchmark/benchmark.h>

#include "bigbook.h"

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

// Opening: directory, metadata, codec and the topic map of 20,000 topics.
void BM_OpenBigBook(benchmark::State& state)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return;
    for (auto _ : state) {
        LCHMFile book;
        if (!book.openBook(path))
            state.SkipWithError("cannot open");
        benchmark::DoNotOptimize(book.topicTitleForUrl(QStringLiteral("/t0.htm")));
    }
}
BENCHMARK(BM_OpenBigBook)->Unit(benchmark::kMillisecond);

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

// What loading a book costs the window: open, title, home page, contents, close.
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

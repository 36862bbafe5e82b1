// The keyword index of a generated book with 100,000 keywords (a sitemap of about 12 MB): read on
// the panel's worker, sorted, put in the list model and the first screen painted. Baseline in the
// same run: parsing the book's contents sitemap of the same size and shape, which the reader
// does on every start; the index benchmark reports its time as a ratio to it ("x_contents").
//
// The book is written by the tests' container writer (sitemaps stored uncompressed), so both
// sides measure the parser and what follows it, not decompression.
#include "benchmain.h"
#include "chmwriter.h"
#include "indexwidget.h"
#include "lchmfile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QListView>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <malloc.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kEntries = 100000;
const char* const kWords[] = {"lantern", "harbour", "meadow", "compass", "thimble", "orchard", "signal", "copper"};

// One sitemap of kEntries objects: every tenth entry opens a level with the next two under it,
// as sub-keywords in an index or sub-pages in contents. Names sort in the order written, as
// help compilers write indexes.
QByteArray sitemap()
{
    QByteArray text = "<HTML><BODY>\n<UL>\n";
    text.reserve(kEntries * 130);
    int open = 0;
    for (int i = 0; i < kEntries; ++i) {
        if (i % 10 == 1) {
            text += "<UL>\n";
            ++open;
        }
        text += "\t<LI> <OBJECT type=\"text/sitemap\">\n\t\t<param name=\"Name\" value=\"";
        text += QByteArray::number(100000 + i) + " " + kWords[i % 8] + " " + kWords[(i / 8) % 8];
        text += "\">\n\t\t<param name=\"Local\" value=\"chapter" + QByteArray::number(i / 500) + "/page"
            + QByteArray::number(i % 500) + ".htm\">\n\t\t</OBJECT>\n";
        if (i % 10 == 2 && open > 0) {
            text += "</UL>\n";
            --open;
        }
    }
    text += "</UL>\n</BODY></HTML>\n";
    return text;
}

// The book, written once per run: /#SYSTEM names /toc.hhc (code 0) and /index.hhk (code 1).
const QString& bookPath()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString file = dir.filePath(QStringLiteral("keywords.chm"));
        QByteArray system;
        appendLe32(system, 3);
        for (auto [code, name] : {std::pair{0, QByteArray("toc.hhc")}, std::pair{1, QByteArray("index.hhk")}}) {
            appendLe16(system, quint16(code));
            appendLe16(system, quint16(name.size() + 1));
            system += name + '\0';
        }
        const QByteArray map = sitemap();
        return writeChmContainer(file, {{"/#SYSTEM", system}, {"/toc.hhc", map}, {"/index.hhk", map}}) ? file
                                                                                                          : QString();
    }();
    return path;
}

// CPU time of the whole process, worker threads included: the machine may be busy, and the
// index is parsed off the benchmark's thread.
double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

double parseContentsMs()
{
    malloc_trim(0);  // both sides start from the same heap
    QElapsedTimer clock;
    clock.start();
    LCHMFile book;
    QVector<LCHMParsedEntry> contents;
    if (!book.openBook(bookPath()) || !book.parseContents(&contents) || contents.size() != kEntries)
        return -1;
    return double(clock.nsecsElapsed()) / 1e6;
}

// The Index tab's work from the book to the first painted screen: the worker opens the book,
// parses and sorts the index; the window's thread fills the model and paints.
void BM_IndexParseAndShow(benchmark::State& state)
{
    if (bookPath().isEmpty()) {
        state.SkipWithError("could not write the book");
        return;
    }
    BackgroundRunner runner;
    {
        // Fonts, styles and the runner's threads are set up once per program, not per book.
        IndexWidget warmUp(&runner);
        warmUp.show();
        benchmark::DoNotOptimize(warmUp.grab());
    }
    double indexMs = 0;
    double indexCpuMs = 0;
    qint64 grown = 0;
    for (auto _ : state) {
        malloc_trim(0);  // what earlier runs freed does not hide what this one takes
        const qint64 before = residentBytes();
        QElapsedTimer clock;
        clock.start();
        const double cpuStart = processCpuMs();
        IndexWidget panel(&runner);
        panel.resize(231, 700);
        panel.show();
        int keywords = -1;
        QEventLoop loop;
        QObject::connect(&panel, &IndexWidget::indexLoaded, &loop, [&](int count) {
            keywords = count;
            loop.quit();
        });
        panel.loadBook(bookPath());
        loop.exec();
        if (keywords != kEntries) {
            state.SkipWithError("the index did not load");
            return;
        }
        benchmark::DoNotOptimize(panel.grab());
        indexMs += double(clock.nsecsElapsed()) / 1e6;
        indexCpuMs += processCpuMs() - cpuStart;
        malloc_trim(0);  // count what the panel keeps, not what the parse freed
        grown = std::max(grown, residentBytes() - before);
    }
    // The ratio against the contents parse, timed here in the same run.
    double contentsMs = 1e9;
    double contentsCpuMs = 1e9;
    for (int i = 0; i < 3; ++i) {
        const double cpuStart = processCpuMs();
        contentsMs = std::min(contentsMs, parseContentsMs());
        contentsCpuMs = std::min(contentsCpuMs, processCpuMs() - cpuStart);
    }
    const double n = double(state.iterations());
    state.counters["entries"] = kEntries;
    state.counters["process_cpu_ms"] = indexCpuMs / n;
    state.counters["x_contents"] = indexMs / n / contentsMs;
    state.counters["x_contents_cpu"] = indexCpuMs / n / contentsCpuMs;
    state.counters["kept_MiB"] = double(grown) / (1 << 20);
}
BENCHMARK(BM_IndexParseAndShow)->Unit(benchmark::kMillisecond)->UseRealTime();


// Baseline: the contents sitemap parsed, as at every book load.
void BM_ParseContents(benchmark::State& state)
{
    if (bookPath().isEmpty()) {
        state.SkipWithError("could not write the book");
        return;
    }
    double cpuMs = 0;
    for (auto _ : state) {
        const double cpuStart = processCpuMs();
        if (parseContentsMs() < 0)
            state.SkipWithError("the contents did not parse");
        cpuMs += processCpuMs() - cpuStart;
    }
    state.counters["entries"] = kEntries;
    state.counters["process_cpu_ms"] = cpuMs / double(state.iterations());
}
BENCHMARK(BM_ParseContents)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    return runBenchmarks(argc, argv);
}

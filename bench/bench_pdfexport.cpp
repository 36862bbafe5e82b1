// A book as one PDF (BookPdfExport), against printing the same pages one by one to PDFs of
// their own in the same run, offscreen:
//   BM_ExportHelpBook / BM_PrintHelpPagesOneByOne: the reader's own help book, every page.
//   BM_ExportBigBook500 / BM_PrintBigPagesOneByOne500: the book of 20,000 topics, cut to its
//     first 500 contents entries; BM_ExportBigBook100: its first 100, for memory.
// Counters: pages (topics printed; a topic may fill several PDF pages, pdf_pages), ms_per_page
// (per topic), peak_MiB (the highest memory of the program and every process
// the engine started, summed, since the program began: it can only grow from one benchmark to
// the next, so a larger export that does not raise it shows that memory does not follow the
// page count) and pause_ms (the longest time the window's thread did not answer).
// `cmake --build build --target run_bench_pdfexport`; the ratios follow the table.
#include "processtree.h"
#include "ratioreporter.h"
#include "windowfreeze.h"
#include "backgroundrunner.h"
#include "benchmain.h"
#include "bookexportplan.h"
#include "bookpdfexport.h"
#include "booklocation.h"
#include "browsercontrol.h"
#include "browserengine.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <unistd.h>

namespace {

const QString kHelpBook = QStringLiteral(PAGEWICK_HELP_BOOK);
const QString kBigBook = QStringLiteral(PAGEWICK_BIG_BOOK);

QPageLayout a4()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
}

struct Meters
{
    ProcessTreeMeter tree{getpid()};
    WindowFreezeMeter freeze;
    QTimer sampler;
    QElapsedTimer clock;

    void start()
    {
        QObject::connect(&sampler, &QTimer::timeout, [this] { tree.sample(); });
        sampler.start(200);
        freeze.start();
        clock.start();
    }
    void report(benchmark::State& state, int pages)
    {
        const double ms = double(clock.elapsed());
        freeze.stop();
        sampler.stop();
        tree.sample();
        state.SetIterationTime(ms / 1000.0);
        state.counters["pages"] = pages;
        state.counters["ms_per_page"] = pages > 0 ? ms / pages : 0;
        state.counters["peak_MiB"] = tree.peakMiB();
        state.counters["pause_ms"] = freeze.longestGapMs();
    }
};

void exportBook(benchmark::State& state, const QString& book, int entries)
{
    if (!QFile::exists(book)) {
        state.SkipWithError("the book is missing: build big_book / pagewick_help");
        return;
    }
    for (auto _ : state) {
        QTemporaryDir folder;
        BackgroundRunner runner;
        BookPdfExport exporter(runner);
        Meters meters;
        QEventLoop loop;
        bool ok = false;
        int topics = 0;
        QObject::connect(&exporter, &BookPdfExport::progress, [&topics](int, int total) { topics = total; });
        QObject::connect(&exporter, &BookPdfExport::finished, [&](bool done) {
            ok = done;
            loop.quit();
        });
        meters.start();
        PdfExportRequest request;
        request.bookPath = book;
        request.outputPath = folder.filePath(QStringLiteral("book.pdf"));
        request.layout = a4();
        request.maxEntries = entries;
        exporter.start(request);
        loop.exec();
        meters.report(state, topics - int(exporter.skippedPages().size()));
        state.counters["pdf_pages"] = exporter.pagesWritten();
        if (!ok)
            state.SkipWithError("the export failed");
    }
}

// The baseline: the same pages, each loaded and printed into a file of its own.
void printOneByOne(benchmark::State& state, const QString& book, int entries)
{
    BookExportPlan plan;
    QString error;
    if (!QFile::exists(book) || !planBookExport(book, BookChapter(), &plan, &error, entries)) {
        state.SkipWithError("the book is missing or has no pages");
        return;
    }
    for (auto _ : state) {
        QTemporaryDir folder;
        BrowserControl control;
        control.setBookPath(book);
        Meters meters;
        meters.start();
        int printed = 0;
        for (int i = 0; i < plan.pages.size(); ++i) {
            QEventLoop loop;
            auto connection = QObject::connect(&control, &BrowserControl::documentComplete, &loop, &QEventLoop::quit);
            control.navigate(BookLocation(book, plan.pages.at(i).path));
            loop.exec();
            QObject::disconnect(connection);
            control.printToPdf(folder.filePath(QStringLiteral("%1.pdf").arg(i)), a4(), [&loop, &printed](bool ok) {
                printed += ok ? 1 : 0;
                loop.quit();
            });
            loop.exec();
        }
        meters.report(state, printed);
    }
}

void BM_ExportHelpBook(benchmark::State& state) { exportBook(state, kHelpBook, 0); }
void BM_PrintHelpPagesOneByOne(benchmark::State& state) { printOneByOne(state, kHelpBook, 0); }
void BM_ExportBigBook100(benchmark::State& state) { exportBook(state, kBigBook, 100); }
void BM_ExportBigBook500(benchmark::State& state) { exportBook(state, kBigBook, 500); }
void BM_PrintBigPagesOneByOne500(benchmark::State& state) { printOneByOne(state, kBigBook, 500); }

BENCHMARK(BM_PrintHelpPagesOneByOne)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportHelpBook)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportBigBook100)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrintBigPagesOneByOne500)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExportBigBook500)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    useOffscreenPlatform();
    prepareBrowserControl();
    QApplication app(argc, argv);
    RatioReporter reporter({{"BM_ExportHelpBook", "BM_PrintHelpPagesOneByOne"},
                            {"BM_ExportBigBook500", "BM_PrintBigPagesOneByOne500"}},
                           RatioReporter::Clock::Real);
    return runBenchmarks(argc, argv, &reporter);
}

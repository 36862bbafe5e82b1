// Extracting the generated book of 20,000 topics into a folder, against baselines in the same
// run: reading every object that extraction writes into memory; writing those same bytes into
// plain files of one flat folder; and writing them into the same folder tree with QDir and QFile.
// The closing lines give extraction's mean time as a ratio to each baseline. Creating and
// removing this many files is dominated by the file system (ext4 spreads new folders over its
// block groups), so compare extraction with the tree copy, or set PAGEWICK_BENCH_DIR to a folder
// on tmpfs (/dev/shm) to see the program's own share; run with
// --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true to even out the order.
//
// BM_ExtractFreeze runs the Extract command as the window does (progress dialog, worker) and
// reports "freeze_ms", the longest pause of the window thread's event loop meanwhile, against
// BM_ExtractFreezeInline: the same extraction on the window's thread, handling pending events
// before each object.
#include "benchmain.h"
#include "backgroundrunner.h"
#include "extractdialog.h"
#include "extractor.h"
#include "lchmfile.h"
#include "windowfreeze.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QWidget>

#include <benchmark/benchmark.h>

#include "bigbook.h"
#include "ratioreporter.h"

namespace {

// The objects extraction writes: files whose in-book path begins with "/" and holds no "#"/"$".
bool isWritten(const QString& path)
{
    return path.startsWith(QLatin1Char('/')) && !path.endsWith(QLatin1Char('/'))
        && !path.contains(QLatin1Char('#')) && !path.contains(QLatin1Char('$'));
}

// A fresh empty folder for each iteration; the previous one is removed outside the timing.
class Folders
{
public:
    QString next(benchmark::State& state)
    {
        state.PauseTiming();
        if (!m_current.isEmpty())
            QDir(m_current).removeRecursively();
        m_current = m_root.filePath(QString::number(++m_serial));
        QDir().mkpath(m_current);
        state.ResumeTiming();
        return m_current;
    }

private:
    // PAGEWICK_BENCH_DIR picks the file system the folders are made on (e.g. /dev/shm).
    QTemporaryDir m_root{qEnvironmentVariableIsEmpty("PAGEWICK_BENCH_DIR")
                             ? QDir::tempPath() + QStringLiteral("/bench_extract-XXXXXX")
                             : qEnvironmentVariable("PAGEWICK_BENCH_DIR") + QStringLiteral("/bench_extract-XXXXXX")};
    QString m_current;
    int m_serial = 0;
};

// The baselines' common part: open the book and hand every object extraction would write, with
// its bytes, to `use`.
template <typename Use>
void forEachWrittenObject(const QString& bookPath, Use&& use)
{
    LCHMFile book;
    book.openBook(bookPath);
    QStringList paths;
    book.listFiles(&paths);
    QByteArray buffer;
    for (const QString& p : std::as_const(paths)) {
        if (!isWritten(p))
            continue;
        buffer.clear();
        book.readFileBytes(&buffer, p);
        use(p, buffer);
    }
}

void BM_CopyToMemory(benchmark::State& state)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return;
    qint64 bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        forEachWrittenObject(path, [&](const QString&, const QByteArray& data) { bytes += data.size(); });
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["MB"] = double(bytes) / 1e6;
}

void BM_CopyToFiles(benchmark::State& state)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return;
    Folders folders;
    int files = 0;
    for (auto _ : state) {
        const QString target = folders.next(state);
        files = 0;
        forEachWrittenObject(path, [&](const QString&, const QByteArray& data) {
            QFile out(target + QLatin1Char('/') + QString::number(files++));
            if (out.open(QIODevice::WriteOnly))
                out.write(data);
        });
    }
    state.counters["files"] = files;
}

// The same files at the same places as extraction makes them, the plain way: QDir::mkpath for
// each new folder and QFile for each file, with no checks at all.
void BM_CopyToTree(benchmark::State& state)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return;
    Folders folders;
    int files = 0;
    for (auto _ : state) {
        const QString target = folders.next(state);
        files = 0;
        QString lastFolder;
        forEachWrittenObject(path, [&](const QString& p, const QByteArray& data) {
            const QString file = target + p;
            const QString folder = file.left(file.lastIndexOf(QLatin1Char('/')));
            if (folder != lastFolder) {
                QDir().mkpath(folder);
                lastFolder = folder;
            }
            QFile out(file);
            if (out.open(QIODevice::WriteOnly))
                out.write(data);
            ++files;
        });
    }
    state.counters["files"] = files;
}

void BM_ExtractBook(benchmark::State& state)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return;
    Folders folders;
    ExtractionResult result;
    for (auto _ : state)
        result = BookExtractor::extract(path, folders.next(state));
    state.counters["files"] = result.written;
    state.counters["failed"] = result.failed;
}

// One extraction of the big book per iteration, through `extract(book, target)`, with a meter on
// the window's thread: "freeze_ms" is the longest pause of its event loop over the iterations.
template <typename Extract>
void measureFreeze(benchmark::State& state, Extract&& extract)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return;
    Folders folders;
    ExtractionResult result;
    double longest = 0;
    for (auto _ : state) {
        const QString target = folders.next(state);
        WindowFreezeMeter meter;
        meter.start();
        result = extract(path, target);
        meter.stop();
        longest = std::max(longest, meter.longestGapMs());
    }
    state.counters["freeze_ms"] = longest;
    state.counters["files"] = result.written;
}

void BM_ExtractFreeze(benchmark::State& state)
{
    QWidget window;
    window.show();
    BackgroundRunner runner;
    ExtractDialogHooks hooks;
    hooks.showMessage = [](QWidget*, bool, const QString&, const QString&) {};
    measureFreeze(state, [&](const QString& book, const QString& target) {
        ExtractionResult result;
        QEventLoop loop;
        hooks.chooseDirectory = [target](QWidget*, const QString&) { return target; };
        hooks.finished = [&](const ExtractionResult& finished) {
            result = finished;
            loop.quit();
        };
        extractBookInteractively(&window, runner, book, hooks);
        loop.exec();
        return result;
    });
}

void BM_ExtractFreezeInline(benchmark::State& state)
{
    measureFreeze(state, [](const QString& book, const QString& target) {
        return BookExtractor::extract(book, target, [](int, int) {
            QCoreApplication::processEvents();
            return true;
        });
    });
}

BENCHMARK(BM_CopyToMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_CopyToFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_CopyToTree)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ExtractBook)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ExtractFreeze)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ExtractFreezeInline)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    RatioReporter reporter({{"BM_ExtractBook", "BM_CopyToMemory"},
                            {"BM_ExtractBook", "BM_CopyToFiles"},
                            {"BM_ExtractBook", "BM_CopyToTree"},
                            {"BM_ExtractFreeze", "BM_ExtractFreezeInline"}},
                           RatioReporter::Clock::Real);
    return runBenchmarks(argc, argv, &reporter);
}

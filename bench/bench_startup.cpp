// The whole start of the reader: from starting the process to the home page's DocumentComplete
// with the contents tree filled. Each iteration starts the real program (this benchmark run
// again with "--child", which calls the same start-up as the pagewick executable) on a copy of
// the book, offscreen, and times it from QProcess::start until the child reports the home page
// shown; closing the child is not timed. One untimed start first warms the file cache.
//   BM_WholeStart/big_book: the generated book of 20,000 topics.
//   BM_WholeStart/small_book: the small English test book, for the share of the engine's own start.
// Counters, from the child's main(): "window_ms" until the book is loaded and the window shown,
// "home_ms" until the home page is complete; "contents" is the number of top-level entries.

#include "benchmain.h"
#include "contentswidget.h"
#include "mainwindow.h"
#include "startup.h"
#include "viewwidget.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

constexpr int kTimeoutMs = 120000;

QElapsedTimer g_sinceMain;

int runChild(int argc, char** argv)
{
    // "--child <book>": the program with the book as its one argument.
    char* args[] = {const_cast<char*>("pagewick"), argc > 2 ? argv[2] : nullptr, nullptr};
    StartupHooks hooks;
    hooks.shown = [](MainWindow* window) {
        if (!window)
            return;
        const qint64 windowMs = g_sinceMain.elapsed();
        QObject::connect(window->pageView(), &ViewWidget::urlToFavorites, window, [window, windowMs](const QString& path) {
            if (path.isEmpty() || path == QLatin1String("about:blank"))
                return;
            const int rows = window->contentsPanel()->tree()->model()
                                 ? window->contentsPanel()->tree()->model()->rowCount() : 0;
            std::printf("ready %lld %lld %d %s\n", static_cast<long long>(windowMs),
                        static_cast<long long>(g_sinceMain.elapsed()), rows, qPrintable(path));
            std::fflush(stdout);
            window->close();
        });
    };
    return runPagewick(2, args, hooks);
}

void BM_WholeStart(benchmark::State& state, const char* book)
{
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("book.chm"));
    if (!QFile::copy(QString::fromLocal8Bit(book), copy)) {
        state.SkipWithError("the book is missing (build the target big_book or the test books)");
        return;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!env.contains(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS")))
        env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"), QStringLiteral("--disable-gpu"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));

    // One start: the total time in ms and the child's report, or an empty report on failure.
    const auto start = [&](double* totalMs, QList<QByteArray>* fields) {
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.setStandardErrorFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), copy});
        QByteArray out;
        while (!out.contains('\n') && clock.elapsed() < kTimeoutMs && child.state() != QProcess::NotRunning) {
            child.waitForReadyRead(100);
            out += child.readAllStandardOutput();
        }
        *totalMs = double(clock.nsecsElapsed()) / 1e6;
        const QByteArray line = out.left(out.indexOf('\n'));
        *fields = line.split(' ');
        if (!child.waitForFinished(kTimeoutMs))
            child.kill();
        child.waitForFinished();
        if (fields->size() < 5 || fields->at(0) != "ready")
            fields->clear();
    };

    double totalMs = 0;
    QList<QByteArray> fields;
    start(&totalMs, &fields);
    if (fields.isEmpty()) {
        state.SkipWithError("the program did not show its home page");
        return;
    }
    double windowMs = 0, homeMs = 0;
    int contents = 0;
    for (auto _ : state) {
        start(&totalMs, &fields);
        if (fields.isEmpty()) {
            state.SkipWithError("the program did not show its home page");
            return;
        }
        state.SetIterationTime(totalMs / 1000.0);
        windowMs += fields.at(1).toDouble();
        homeMs += fields.at(2).toDouble();
        contents = fields.at(3).toInt();
    }
    const double n = double(state.iterations());
    state.counters["window_ms"] = windowMs / n;
    state.counters["home_ms"] = homeMs / n;
    state.counters["contents"] = contents;
    state.SetLabel(fields.at(4).toStdString());
}

BENCHMARK_CAPTURE(BM_WholeStart, big_book, PAGEWICK_BIG_BOOK)
    ->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WholeStart, small_book, PAGEWICK_TEST_BOOKS_DIR "/english.chm")
    ->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    g_sinceMain.start();
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    return runBenchmarks(argc, argv);
}

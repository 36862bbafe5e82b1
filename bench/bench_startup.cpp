// The whole start of the reader, as the reader sees it: each iteration starts the real program
// (this benchmark run again with "--child", which calls the same start-up as the pagewick
// executable) on a copy of the book and times, from QProcess::start:
//   window_ms   the book loaded and the window shown;
//   paint_ms    the home page drawn on the screen (only on a display: run under
//               xvfb-run -a -s '-screen 0 1280x900x24'; the page's part of the screen is polled);
//   settled_ms  the contents tree filled (and the search probe done, which comes with it);
//   ready_ms    the home page's load complete (the view's after-load pass has run);
//   cpu_s       CPU seconds of the program and every process it started (the engine's zygote,
//               renderer, GPU and utility processes), up to the later of paint and settled;
//   MiB         peak memory (VmHWM) summed over those processes; MiB_<kind> by kind of process.
// Closing the child is not timed. One untimed start first warms the file cache.
//   BM_WholeStart/small_book: the small English test book, the baseline: the engine's own start.
//   BM_WholeStart/big_book: the generated book of 20,000 topics.
//   BM_WholeStart/help_book: the reader's own user guide, Help.chm.
// The closing lines give paint_ms and settled_ms of each book as a ratio to the small book's.

#include "benchmain.h"
#include "contentswidget.h"
#include "mainwindow.h"
#include "processtree.h"
#include "startup.h"
#include "viewwidget.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kTimeoutMs = 120000;

QElapsedTimer g_sinceMain;

void report(const char* event, const QByteArray& detail = {})
{
    std::printf("%s %lld %s\n", event, static_cast<long long>(g_sinceMain.elapsed()), detail.constData());
    std::fflush(stdout);
}

int runChild(int argc, char** argv)
{
    // "--child <book>": the program with the book as its one argument.
    char* args[] = {const_cast<char*>("pagewick"), argc > 2 ? argv[2] : nullptr, nullptr};
    StartupHooks hooks;
    hooks.shown = [](MainWindow* window) {
        if (!window)
            return;
        const ViewWidget* view = window->pageView();
        const QPoint at = view->mapToGlobal(QPoint(0, 0));
        report("window", QByteArray::number(at.x()) + ' ' + QByteArray::number(at.y()) + ' '
                             + QByteArray::number(view->width()) + ' ' + QByteArray::number(view->height()));
        // Settled once the contents tree has rows.
        const auto rows = [window] {
            const QAbstractItemModel* model = window->contentsPanel()->tree()->model();
            return model ? model->rowCount() : 0;
        };
        if (rows() > 0) {
            report("settled", QByteArray::number(rows()));
        } else {
            auto* poll = new QTimer(window);
            poll->setInterval(5);
            QObject::connect(poll, &QTimer::timeout, window, [poll, rows] {
                if (rows() > 0) {
                    report("settled", QByteArray::number(rows()));
                    poll->stop();
                }
            });
            poll->start();
        }
        QObject::connect(window->pageView(), &ViewWidget::urlToFavorites, window, [](const QString& path) {
            static bool reported = false;
            if (reported || path.isEmpty() || path == QLatin1String("about:blank"))
                return;
            reported = true;
            report("ready", path.toUtf8());
        });
        // The parent says when to close: anything on standard input.
        auto* quit = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, window);
        QObject::connect(quit, &QSocketNotifier::activated, window, [window] { window->close(); });
    };
    return runPagewick(2, args, hooks);
}

// Whether the page has drawn into its part of the screen: more than a few pixels differ from
// its corner (a blank view, or the screen before the window is there, is one colour).
bool pageDrawn(const QImage& image)
{
    if (image.isNull())
        return false;
    const QRgb corner = image.pixel(0, 0);
    int differing = 0;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            if (image.pixel(x, y) != corner && ++differing > 50)
                return true;
        }
    }
    return false;
}

struct StartFigures
{
    double windowMs = -1, paintMs = -1, settledMs = -1, readyMs = -1;
    double cpuSeconds = 0, peakMiB = 0;
    QHash<QByteArray, double> peakMiBByKind;
    int contents = 0;
    QByteArray home;
};

// One start of the program on `book`; false when it did not show its home page in time.
bool startOnce(const QString& book, const QProcessEnvironment& env, StartFigures* figures)
{
    *figures = {};
    QScreen* screen = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
        && QGuiApplication::platformName() == QLatin1String("xcb") ? QGuiApplication::primaryScreen() : nullptr;
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), book});
    if (!child.waitForStarted())
        return false;
    ProcessTreeMeter meter(child.processId());
    QRect viewRect;
    QByteArray out;
    const auto done = [&] {
        return figures->settledMs >= 0 && figures->readyMs >= 0 && (figures->paintMs >= 0 || !screen);
    };
    while (!done() && clock.elapsed() < kTimeoutMs && child.state() != QProcess::NotRunning) {
        child.waitForReadyRead(4);
        out += child.readAllStandardOutput();
        for (qsizetype end; (end = out.indexOf('\n')) >= 0; out.remove(0, end + 1)) {
            const QList<QByteArray> fields = out.left(end).split(' ');
            const double now = double(clock.nsecsElapsed()) / 1e6;
            if (fields.at(0) == "window" && fields.size() >= 6) {
                figures->windowMs = now;
                viewRect = QRect(fields.at(2).toInt(), fields.at(3).toInt(), fields.at(4).toInt(), fields.at(5).toInt());
            } else if (fields.at(0) == "settled") {
                figures->settledMs = now;
                figures->contents = fields.value(2).toInt();
            } else if (fields.at(0) == "ready") {
                figures->readyMs = now;
                figures->home = fields.value(2);
            }
        }
        meter.sample();
        if (screen && figures->paintMs < 0 && viewRect.isValid()
            && pageDrawn(screen->grabWindow(0, viewRect.x(), viewRect.y(), viewRect.width(), viewRect.height()).toImage()))
            figures->paintMs = double(clock.nsecsElapsed()) / 1e6;
    }
    meter.sample();
    const bool ok = done();
    figures->cpuSeconds = meter.cpuSeconds();
    figures->peakMiB = meter.peakMiB();
    figures->peakMiBByKind = meter.peakMiBByKind();
    child.write("quit\n");
    child.closeWriteChannel();
    if (!child.waitForFinished(kTimeoutMs))
        child.kill();
    child.waitForFinished();
    return ok;
}

void BM_WholeStart(benchmark::State& state, const char* book)
{
    QTemporaryDir dir;
    const QString copy = dir.filePath(QStringLiteral("book.chm"));
    if (!QFile::copy(QString::fromLocal8Bit(book), copy)) {
        state.SkipWithError("the book is missing (build the target big_book, pagewick_help or the test books)");
        return;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // On a display the program runs there (its page is then seen drawn); else offscreen. The
    // engine gets only the flags the program gives it, unless the caller set some.
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")) && !env.contains(QStringLiteral("DISPLAY")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));

    StartFigures figures;
    if (!startOnce(copy, env, &figures)) {
        state.SkipWithError("the program did not show its home page");
        return;
    }
    std::map<std::string, double> sums;
    for (auto _ : state) {
        if (!startOnce(copy, env, &figures)) {
            state.SkipWithError("the program did not show its home page");
            return;
        }
        state.SetIterationTime(std::max(figures.paintMs, figures.readyMs) / 1000.0);
        sums["window_ms"] += figures.windowMs;
        sums["paint_ms"] += figures.paintMs;
        sums["settled_ms"] += figures.settledMs;
        sums["ready_ms"] += figures.readyMs;
        sums["cpu_s"] += figures.cpuSeconds;
        sums["MiB"] += figures.peakMiB;
        for (auto it = figures.peakMiBByKind.cbegin(); it != figures.peakMiBByKind.cend(); ++it)
            sums["MiB_" + it.key().toStdString()] += it.value();
    }
    const double n = double(state.iterations());
    for (const auto& [name, sum] : sums)
        state.counters[name] = sum / n;
    state.counters["contents"] = figures.contents;
    state.SetLabel(figures.home.toStdString());
}

BENCHMARK_CAPTURE(BM_WholeStart, small_book, PAGEWICK_TEST_BOOKS_DIR "/english.chm")
    ->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WholeStart, big_book, PAGEWICK_BIG_BOOK)
    ->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WholeStart, help_book, PAGEWICK_HELP_BOOK)
    ->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// The console output, then each book's paint and settled times as ratios to the small book's.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                for (const char* counter : {"paint_ms", "settled_ms"}) {
                    const auto it = run.counters.find(counter);
                    if (it != run.counters.end())
                        m_figures[run.benchmark_name()][counter] = it->second.value;
                }
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        auto baseline = m_figures.begin();
        while (baseline != m_figures.end() && baseline->first.find("/small_book") == std::string::npos)
            ++baseline;
        if (baseline == m_figures.end())
            return;
        for (const auto& [name, counters] : m_figures) {
            if (name == baseline->first)
                continue;
            for (const auto& [counter, value] : counters) {
                const double base = baseline->second[counter];
                if (base > 0 && value > 0)
                    std::printf("ratio %s %s / small_book = %.2f\n", name.c_str(), counter.c_str(), value / base);
            }
        }
    }

private:
    std::map<std::string, std::map<std::string, double>> m_figures;
};

} // namespace

int main(int argc, char** argv)
{
    g_sinceMain.start();
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return runChild(argc, argv);
    // On a display the screen is polled for the page's first paint.
    std::unique_ptr<QCoreApplication> app;
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QGuiApplication>(argc, argv);
    RatioReporter reporter;
    return runBenchmarks(argc, argv, &reporter);
}

// The page view on its web view, offscreen.
//   BM_ShowBigBookPage: setCurrentPage to DocumentComplete for pages of the book of 20,000
//     topics (the book is opened by the first request, before the timing); the counter
//     "load_ms" is the share up to the browser's end of load, before the characters are captured.
//   BM_CaptureCharacters: capturing the characters of a page holding 1 MB of text, as one
//     text node and as 10,000 paragraphs.
//   BM_SelectionOffsets: reading a selection near the end of that page as character offsets.
#include "benchmain.h"
#include "browserengine.h"
#include "browsercontrol.h"
#include "chmwriter.h"
#include "viewwidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QRandomGenerator>
#include <QTimer>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

constexpr int kTimeoutMs = 30000;
constexpr int kOneMegabyte = 1 << 20;

// Runs the event loop until quit() is called on the loop it is given, or for kTimeoutMs.
void runUntil(const std::function<void(QEventLoop&)>& setUp)
{
    QEventLoop loop;
    QTimer::singleShot(kTimeoutMs, &loop, &QEventLoop::quit);
    setUp(loop);
    loop.exec();
}

// One view for all benchmarks: starting the web engine is not what is measured.
std::unique_ptr<ViewWidget> g_view;

ViewWidget& view()
{
    if (!g_view) {
        g_view = std::make_unique<ViewWidget>();
        g_view->resize(1000, 700);
        g_view->show();
        runUntil([](QEventLoop& loop) { QObject::connect(g_view.get(), &ViewWidget::canNote, &loop, &QEventLoop::quit); });
    }
    return *g_view;
}

BrowserControl* browser()
{
    return view().findChild<BrowserControl*>();
}

// Runs action and waits for the document it loads; false on time-out or no document.
bool showPage(const std::function<void()>& action, double* loadFinishedMs, double* completeMs)
{
    QElapsedTimer timer;
    qint64 loadFinishedNs = -1;
    qint64 completeNs = -1;
    bool ok = false;
    runUntil([&](QEventLoop& loop) {
        QObject::connect(browser()->webView()->page(), &QWebEnginePage::loadFinished, &loop,
                         [&] { loadFinishedNs = timer.nsecsElapsed(); });
        QObject::connect(browser(), &BrowserControl::documentComplete, &loop, [&](bool hasDocument) {
            completeNs = timer.nsecsElapsed();
            ok = hasDocument;
            loop.quit();
        });
        timer.start();
        action();
    });
    if (loadFinishedMs)
        *loadFinishedMs = double(loadFinishedNs) / 1e6;
    if (completeMs)
        *completeMs = double(completeNs) / 1e6;
    return ok;
}

QString bigBookPage(int index)
{
    return QStringLiteral("/ch%1/p%2.htm").arg(index / 100 + 1, 3, 10, QLatin1Char('0')).arg(index % 100 + 1, 3, 10, QLatin1Char('0'));
}

void BM_ShowBigBookPage(benchmark::State& state)
{
    const QString book = QStringLiteral(PAGEWICK_BIG_BOOK);
    if (!QFileInfo::exists(book)) {
        state.SkipWithError("big book missing: build the big_book target");
        return;
    }
    view().setBookPath(book);
    double firstMs = 0;
    if (!showPage([] { view().setCurrentPage(bigBookPage(0)); }, nullptr, &firstMs)) {
        state.SkipWithError("the first page did not load");
        return;
    }
    QRandomGenerator random(20000);
    double loadSum = 0;
    for (auto _ : state) {
        const QString page = bigBookPage(int(random.bounded(20000)));
        double loadMs = 0, completeMs = 0;
        if (!showPage([&] { view().setCurrentPage(page); }, &loadMs, &completeMs)) {
            state.SkipWithError(qPrintable(QStringLiteral("no document for ") + page));
            return;
        }
        loadSum += loadMs;
        state.SetIterationTime(completeMs / 1000.0);
    }
    state.counters["load_ms"] = benchmark::Counter(loadSum / double(state.iterations()));
    state.counters["first_page_ms"] = benchmark::Counter(firstMs);
}
BENCHMARK(BM_ShowBigBookPage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);

// A book with one page of 1 MB of text (plain ASCII words), in `paragraphs` paragraphs.
QString writeMegabyteBook(QTemporaryDir& dir, int paragraphs)
{
    const QByteArray words = "lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor ";
    QByteArray body;
    body.reserve(kOneMegabyte + paragraphs * 8);
    const int perParagraph = kOneMegabyte / paragraphs;
    for (int p = 0; p < paragraphs; ++p) {
        body += "<p>";
        QByteArray text;
        while (text.size() < perParagraph)
            text += words;
        text.truncate(perParagraph);
        body += text;
        body += "</p>\n";
    }
    const QByteArray html = "<html><head><title>One megabyte</title></head><body>" + body + "</body></html>";
    const QString path = dir.filePath(QStringLiteral("megabyte-%1.chm").arg(paragraphs));
    return writeChmContainer(path, {{"/page.htm", html}}) ? path : QString();
}

bool showMegabytePage(benchmark::State& state, QTemporaryDir& dir)
{
    const QString book = writeMegabyteBook(dir, int(state.range(0)));
    view().setBookPath(book);
    if (book.isEmpty() || !showPage([] { view().setCurrentPage(QStringLiteral("/page.htm")); }, nullptr, nullptr)) {
        state.SkipWithError("the 1 MB page did not load");
        return false;
    }
    return true;
}

void BM_CaptureCharacters(benchmark::State& state)
{
    QTemporaryDir dir;
    if (!showMegabytePage(state, dir))
        return;
    for (auto _ : state) {
        auto done = std::make_shared<bool>(false);
        QElapsedTimer timer;
        runUntil([&](QEventLoop& loop) {
            QPointer<QEventLoop> waiting(&loop);
            timer.start();
            browser()->captureText([done, waiting](bool) {
                *done = true;
                if (waiting)
                    waiting->quit();
            });
        });
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        if (!*done) {
            state.SkipWithError("no capture");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * browser()->pageText().size() * 2);
    state.counters["characters"] = benchmark::Counter(double(browser()->pageText().size()));
}
BENCHMARK(BM_CaptureCharacters)->Arg(1)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_SelectionOffsets(benchmark::State& state)
{
    QTemporaryDir dir;
    if (!showMegabytePage(state, dir))
        return;
    browser()->webView()->page()->runJavaScript(QStringLiteral(
        "var p = document.body.lastElementChild; var r = document.createRange();"
        "r.setStart(p.firstChild, 5); r.setEnd(p.firstChild, 50); getSelection().addRange(r);"));
    for (auto _ : state) {
        const std::optional<TextRange> selection = browser()->selection();
        if (!selection || selection->length() != 45) {
            state.SkipWithError("selection not read");
            return;
        }
    }
}
BENCHMARK(BM_SelectionOffsets)->Arg(1)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char** argv)
{
    useOffscreenPlatform();
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    prepareBrowserControl();
    QApplication app(argc, argv);
    const int status = runBenchmarks(argc, argv);
    g_view.reset();
    return status;
}

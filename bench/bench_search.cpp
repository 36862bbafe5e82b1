// Full-text search on the generated book of 20,000 topics, each query measured the way the
// search panel runs it: create the book object, open the book, search with a limit of 700,
// close. Baseline in the same run: a plain scan of every page for the same whole word.
//
// searchFromPanel is a search from the Search panel itself, from the click to the titles
// shown: the panel opens the book on a worker thread while the window's event loop runs. Its
// baseline is searchOnOpenBook, the same search and titles on a book opened once outside the
// timing; the closing lines give the ratio (real time: the panel's work runs on another
// thread). Its counter longest_freeze_ms is the longest pause of the window's event loop during
// the searches (WindowFreezeMeter, ticking every 5 ms). The first_open rows forget every book's
// parse before each search, so that the worker reads the book's directory and topic map anew:
// the worst case.
//
// searchShown is a one-word search from the panel shown at the size of the dock, as the reader
// sees it: from the click to the list filled ("plain"), and to the snippets of the first screen
// (and the screen below it) painted too ("snippets"). Both run in the same run; the closing
// line gives their ratio, and longest_freeze_ms the window's longest pause while the 700 rows
// are filled and their snippets arrive.
//
// searchWhileBusy is a search from the panel after the panel's own low-priority work (the look
// into the book's index, on the runner's low lane) has run: first on an idle machine, then while
// two child processes spin on the processor. The closing line gives the ratio of the two; the
// search runs on the runner's normal lane, so it keeps its share of the processor under load.
//
// Words of the big book with known counts: "omnibus" is on every page, "zeitgeist" on 100,
// "quixotic" on 3, "xylograph" on 1; "the" is the most common word.

#include "backgroundrunner.h"
#include "lchmbookcache.h"
#include "lchmfile.h"
#include "searchwidget.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QStringList>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <csignal>
#include <functional>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "benchmain.h"
#include "bigbook.h"
#include "ratioreporter.h"
#include "windowfreeze.h"

namespace {

// Times `work` as the panel's searches run: a book opened and closed around every iteration.
// `work` answers the number of topics found.
template <typename Work>
void timeWithBookOpened(benchmark::State& state, Work&& work)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return;
    qsizetype found = 0;
    for (auto _ : state) {
        LCHMFile book;
        if (!book.openBook(path)) {
            state.SkipWithError("cannot open the big book");
            return;
        }
        found = work(book);
        book.closeBook();
    }
    state.counters["topics"] = double(found);
}

void searchAsThePanelDoes(benchmark::State& state, const QString& query)
{
    timeWithBookOpened(state, [&query](LCHMFile& book) {
        QStringList results;
        book.fullTextSearch(query, &results, 700);
        return results.size();
    });
}

// The search and the titles of what it found, on a book opened once outside the timing.
void searchOnOpenBook(benchmark::State& state, const QString& query)
{
    LCHMFile book;
    if (!openBigBook(state, &book))
        return;
    qsizetype found = 0;
    for (auto _ : state) {
        QStringList results;
        book.fullTextSearch(query, &results, SearchWidget::MaxResults);
        QStringList titles;
        for (const QString& url : std::as_const(results))
            titles.append(book.topicTitleForUrl(url));
        found = titles.size();
    }
    state.counters["topics"] = double(found);
}

// Times searches for query from panel, each from the click (made from the event loop) until the
// panel sends `done`; beforeEach runs untimed before each. Reports the list's length and the
// window's longest pause. False, with the reason given to state, when the book's own index does
// not serve.
bool timePanelSearches(benchmark::State& state, SearchWidget& panel, const QString& path, const QString& query,
                       void (SearchWidget::*done)(), const std::function<void()>& beforeEach = {})
{
    panel.setBookPath(path);
    if (panel.searchesPageText()) {
        state.SkipWithError("the big book's own index does not serve");
        return false;
    }
    panel.queryEdit()->setText(query);
    double longestFreezeMs = 0;
    for (auto _ : state) {
        if (beforeEach) {
            state.PauseTiming();
            beforeEach();
            state.ResumeTiming();
        }
        WindowFreezeMeter meter;
        QEventLoop loop;
        QObject::connect(&panel, done, &loop, &QEventLoop::quit);
        QTimer::singleShot(0, &panel, &SearchWidget::search);
        meter.start();
        loop.exec();
        meter.stop();
        longestFreezeMs = std::max(longestFreezeMs, meter.longestGapMs());
    }
    state.counters["topics"] = double(panel.resultList()->count());
    state.counters["longest_freeze_ms"] = longestFreezeMs;
    return true;
}

// One search from the panel: from the click to the results shown, the window's event loop
// running meanwhile.
void searchFromPanel(benchmark::State& state, const QString& query, bool firstOpen)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return;
    BackgroundRunner runner;
    SearchWidget panel(&runner);
    std::function<void()> clearCache;
    if (firstOpen)
        clearCache = [] { LCHMBookCache::instance().clear(); };
    timePanelSearches(state, panel, path, query, &SearchWidget::searched, clearCache);
}

// One search from the panel as the reader sees it, shown beside the page; with `snippets` the
// time runs until the snippets of the rows on screen and about to be are on the list.
void searchShown(benchmark::State& state, const QString& query, bool snippets)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return;
    BackgroundRunner runner;
    SearchWidget panel(&runner);
    panel.resize(280, 700);
    panel.show();
    timePanelSearches(state, panel, path, query, snippets ? &SearchWidget::snippetsMade : &SearchWidget::searched);
}

// Child processes that keep a core busy each while they live.
class BusyProcesses
{
public:
    explicit BusyProcesses(int count)
    {
        for (int i = 0; i < count; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                for (volatile unsigned long n = 0;; n = n + 1) {
                }
            }
            if (pid > 0)
                m_pids.push_back(pid);
        }
    }
    ~BusyProcesses()
    {
        for (const pid_t pid : m_pids) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    BusyProcesses(const BusyProcesses&) = delete;
    BusyProcesses& operator=(const BusyProcesses&) = delete;

private:
    std::vector<pid_t> m_pids;
};

void searchWhileBusy(benchmark::State& state, const QString& query, int busyProcesses)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return;
    BackgroundRunner runner;
    SearchWidget panel(&runner);
    panel.setBookPath(path, true);
    const QDeadlineTimer deadline(60000);
    while (panel.pageTextCheck()->isHidden() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (panel.pageTextCheck()->isHidden() || panel.searchesPageText()) {
        state.SkipWithError("the look into the big book's index did not end as expected");
        return;
    }
    panel.queryEdit()->setText(query);
    const BusyProcesses load(busyProcesses);
    for (auto _ : state) {
        QEventLoop loop;
        QObject::connect(&panel, &SearchWidget::searched, &loop, &QEventLoop::quit);
        QTimer::singleShot(0, &panel, &SearchWidget::search);
        loop.exec();
    }
    state.counters["topics"] = double(panel.resultList()->count());
}

bool isWordByte(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// The baseline: open the book, read every page and look for the word as a whole word
// (case-insensitive), collecting every page that holds it.
void scanEveryPage(benchmark::State& state, const QByteArray& word)
{
    timeWithBookOpened(state, [&word](LCHMFile& book) {
        QStringList files;
        book.listFiles(&files);
        qsizetype found = 0;
        for (const QString& file : std::as_const(files)) {
            if (!file.endsWith(QLatin1String(".htm")) && !file.endsWith(QLatin1String(".html")))
                continue;
            QByteArray page;
            if (!book.readFileBytes(&page, file))
                continue;
            page = page.toLower();
            for (qsizetype at = page.indexOf(word); at >= 0; at = page.indexOf(word, at + 1)) {
                const qsizetype end = at + word.size();
                if ((at == 0 || !isWordByte(page.at(at - 1))) && (end >= page.size() || !isWordByte(page.at(end)))) {
                    ++found;
                    break;
                }
            }
        }
        return found;
    });
}

} // namespace

BENCHMARK_CAPTURE(searchAsThePanelDoes, one_word_rare, QStringLiteral("xylograph"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchAsThePanelDoes, one_word_100_topics, QStringLiteral("zeitgeist"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchAsThePanelDoes, one_word_every_topic, QStringLiteral("omnibus"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchAsThePanelDoes, one_word_the, QStringLiteral("the"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchAsThePanelDoes, three_words, QStringLiteral("every age zeitgeist"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchAsThePanelDoes, three_words_common, QStringLiteral("the omnibus stops"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchAsThePanelDoes, phrase_100_topics, QStringLiteral("\"every age has its zeitgeist\""))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchAsThePanelDoes, phrase_every_topic, QStringLiteral("\"the omnibus stops here\""))->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(searchOnOpenBook, one_word_100_topics, QStringLiteral("zeitgeist"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchOnOpenBook, one_word_every_topic, QStringLiteral("omnibus"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(searchOnOpenBook, phrase_every_topic, QStringLiteral("\"the omnibus stops here\""))->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(searchFromPanel, one_word_100_topics, QStringLiteral("zeitgeist"), false)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(searchFromPanel, one_word_every_topic, QStringLiteral("omnibus"), false)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(searchFromPanel, phrase_every_topic, QStringLiteral("\"the omnibus stops here\""), false)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(searchFromPanel, first_open_one_word_100_topics, QStringLiteral("zeitgeist"), true)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(searchFromPanel, first_open_one_word_every_topic, QStringLiteral("omnibus"), true)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_CAPTURE(searchShown, omnibus_plain, QStringLiteral("omnibus"), false)
    ->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(searchShown, omnibus_snippets, QStringLiteral("omnibus"), true)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_CAPTURE(searchWhileBusy, idle, QStringLiteral("omnibus"), 0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(searchWhileBusy, two_busy_processes, QStringLiteral("omnibus"), 2)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_CAPTURE(scanEveryPage, zeitgeist, QByteArray("zeitgeist"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scanEveryPage, omnibus, QByteArray("omnibus"))->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    std::vector<RatioReporter::Ratio> ratios;
    for (const std::string query : {"one_word_100_topics", "one_word_every_topic", "phrase_every_topic"})
        ratios.push_back({"searchFromPanel/" + query, "searchOnOpenBook/" + query});
    for (const std::string query : {"one_word_100_topics", "one_word_every_topic"})
        ratios.push_back({"searchFromPanel/first_open_" + query, "searchOnOpenBook/" + query});
    ratios.push_back({"searchShown/omnibus_snippets", "searchShown/omnibus_plain"});
    ratios.push_back({"searchWhileBusy/two_busy_processes", "searchWhileBusy/idle"});
    RatioReporter reporter(ratios, RatioReporter::Clock::Real);
    return runBenchmarks(argc, argv, &reporter);
}

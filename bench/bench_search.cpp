// Full-text search on the generated book of 20,000 topics, each query measured the way the
// search panel runs it: create the book object, open the book, search with a limit of 700,
// close. Baseline in the same run: a plain scan of every page for the same whole word.
//
// Words of the big book with known counts: "omnibus" is on every page, "zeitgeist" on 100,
// "quixotic" on 3, "xylograph" on 1; "the" is the most common word.

#include "lchmfile.h"

#include <QFileInfo>
#include <QStringList>

#include <benchmark/benchmark.h>

#include "bigbook.h"

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

// The search alone, on a book opened once outside the timing.
void searchOnOpenBook(benchmark::State& state, const QString& query)
{
    const QString path = bigBook(state);
    LCHMFile book;
    if (path.isEmpty())
        return;
    if (!book.openBook(path)) {
        state.SkipWithError("cannot open the big book");
        return;
    }
    qsizetype found = 0;
    for (auto _ : state) {
        QStringList results;
        book.fullTextSearch(query, &results, 700);
        found = results.size();
    }
    state.counters["topics"] = double(found);
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

BENCHMARK_CAPTURE(scanEveryPage, zeitgeist, QByteArray("zeitgeist"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scanEveryPage, omnibus, QByteArray("omnibus"))->Unit(benchmark::kMillisecond);

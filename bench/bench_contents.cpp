// Building the contents tree of a large book: 20,000 entries in 200 chapters, as the contents
// panel receives them from the sitemap parser. Baseline in the same run: the bare items
// (text only, no tree) that any model of this size must allocate.
#include "benchmain.h"
#include "contentswidget.h"
#include "lchmparsedentry.h"

#include <QApplication>
#include <QStandardItemModel>
#include <QTreeView>

#include <benchmark/benchmark.h>

namespace {

constexpr int kChapters = 200;
constexpr int kSectionsPerChapter = 9;
constexpr int kPagesPerSection = 10;   // 200 * (1 + 9 * (1 + 10)) = 20,000 entries

// Chapters (closed books) hold sections, sections hold pages; every fourth page has a
// sub-page one level deeper, and about one section in seven is a heading without a target.
QVector<LCHMParsedEntry> bigContents()
{
    QVector<LCHMParsedEntry> entries;
    entries.reserve(kChapters * (1 + kSectionsPerChapter * (1 + kPagesPerSection)));
    auto add = [&](int indent, int imageNumber, const QString& name, const QString& url) {
        LCHMParsedEntry e;
        e.name = name;
        if (!url.isEmpty())
            e.urls << url;
        e.imageNumber = imageNumber;
        e.indent = indent;
        entries.append(e);
    };
    for (int c = 1; c <= kChapters; ++c) {
        const QString chapter = QStringLiteral("/chapter%1").arg(c);
        add(0, 1, QStringLiteral("Chapter %1: The Workings of Part %1").arg(c), chapter + QStringLiteral("/index.htm"));
        for (int s = 1; s <= kSectionsPerChapter; ++s) {
            const QString section = chapter + QStringLiteral("/section%1").arg(s);
            add(1, 1, QStringLiteral("Section %1.%2 Overview").arg(c).arg(s),
                (c + s) % 7 == 0 ? QString() : section + QStringLiteral("/index.htm"));
            for (int p = 1; p <= kPagesPerSection; ++p) {
                const bool subPage = p % 4 == 0;
                add(subPage ? 3 : 2, subPage ? -2 : 11, QStringLiteral("Topic %1.%2.%3").arg(c).arg(s).arg(p),
                    section + QStringLiteral("/page%1.htm").arg(p));
            }
        }
    }
    return entries;
}

const QVector<LCHMParsedEntry>& contents()
{
    static const QVector<LCHMParsedEntry> entries = bigContents();
    return entries;
}

// Baseline: one plain item per entry, all at the top level.
void BM_BareItems(benchmark::State& state)
{
    const QVector<LCHMParsedEntry>& entries = contents();
    for (auto _ : state) {
        QStandardItemModel model;
        QList<QStandardItem*> items;
        items.reserve(entries.size());
        for (const LCHMParsedEntry& e : entries)
            items.append(new QStandardItem(e.name));
        model.invisibleRootItem()->appendRows(items);
        benchmark::DoNotOptimize(model.rowCount());
    }
    state.counters["entries"] = double(entries.size());
}
BENCHMARK(BM_BareItems)->Unit(benchmark::kMillisecond);

// The panel's whole build, as at book load: items with data and icons, nesting, and the model
// set on the tree (replacing the previous one).
void BM_SetCurrentContents(benchmark::State& state)
{
    QVector<LCHMParsedEntry> entries = contents();
    ContentsWidget panel;
    for (auto _ : state) {
        panel.setCurrentContents(&entries);
        benchmark::DoNotOptimize(panel.tree()->model());
    }
    const QAbstractItemModel* model = panel.tree()->model();
    if (!model || model->rowCount() != kChapters)
        state.SkipWithError("the tree does not have one top-level row per chapter");
    state.counters["entries"] = double(entries.size());
}
BENCHMARK(BM_SetCurrentContents)->Unit(benchmark::kMillisecond);

// The same on a panel that is shown, including laying out and painting the first screen.
void BM_SetCurrentContentsAndPaint(benchmark::State& state)
{
    QVector<LCHMParsedEntry> entries = contents();
    ContentsWidget panel;
    panel.resize(231, 700);
    panel.show();
    for (auto _ : state) {
        panel.setCurrentContents(&entries);
        benchmark::DoNotOptimize(panel.grab());
    }
    state.counters["entries"] = double(entries.size());
}
BENCHMARK(BM_SetCurrentContentsAndPaint)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    return runBenchmarks(argc, argv);
}

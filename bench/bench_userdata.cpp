// Reading hand-made hostile notes records from a book file: blocks that inflate to gigabytes or
// lie about their size, records nested in records, 50 million marks, and 100,000 real pages of
// notes beside an ordinary record. Each case writes its book (a minimal container and the record
// behind it) into a temporary folder once, then times BookUserData::readUserData on it.
//
// Peak memory of one case: run it alone, e.g.
//   /usr/bin/time -v bench_userdata --benchmark_filter='read/nested_8$' 2>&1 | grep Maximum
// The counters give the pages and marks loaded and whether the record read whole.
#include "hostilerecords.h"
#include "userdata.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <functional>
#include <memory>

namespace {

constexpr qint64 MiB = qint64(1) << 20;

QByteArray container()
{
    QByteArray head(112, '\0');
    head.replace(0, 4, "ITSF");
    head[104] = char(112);
    return head;
}

QByteArray typicalRecord()
{
    NoteStore notes;
    QStringList bookmarks;
    for (int page = 0; page < 100; ++page) {
        const QString path = QStringLiteral("/chapter/page%1.htm").arg(page);
        for (int mark = 0; mark < 5; ++mark)
            notes.addMark(path, NoteMark{mark * 40, 12});
        bookmarks << QStringLiteral("Page %1").arg(page) << path;
    }
    return UserDataRecord::encode(notes, bookmarks);
}

void readRecord(benchmark::State& state, const std::function<QByteArray()>& makeTail)
{
    const QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/pagewick-bench-XXXXXX"));
    const QString path = dir.filePath(QStringLiteral("book.chm"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(container() + makeTail()) < 0) {
            state.SkipWithError("cannot write the book");
            return;
        }
    }
    qint64 pages = 0, marks = 0;
    bool whole = false;
    for (auto _ : state) {
        BookUserData data(path);
        NoteStore notes;
        QStringList bookmarks;
        whole = data.readUserData(&notes, &bookmarks);
        pages = notes.size();
        marks = 0;
        for (const PageNotes& page : std::as_const(notes))
            marks += page.marks.size();
        benchmark::DoNotOptimize(bookmarks);
    }
    state.counters["pages"] = double(pages);
    state.counters["marks"] = double(marks);
    state.counters["whole"] = whole ? 1 : 0;
}

bool registerCases()
{
    // Damaged records are expected here; zlib's complaints would only clutter the table.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    using namespace HostileRecords;
    const std::pair<const char*, std::function<QByteArray()>> cases[] = {
        {"typical_100_pages", [] { return typicalRecord(); }},
        {"pages_100000", [] { return manyPages(100000); }},
        {"inflate_1GiB", [] { return record(zeroBlock({}, 1024 * MiB, {})); }},
        {"inflate_1GiB_claiming_30MiB", [] { return record(zeroBlock({}, 1024 * MiB, {}, 30 * MiB)); }},
        {"inflate_3.9GiB_claiming_30MiB", [] { return record(zeroBlock({}, 3994 * MiB, {}, 30 * MiB)); }},
        {"nested_8", [] { return nested(zeroBlock({}, 1024 * MiB, {}, 30 * MiB), 8); }},
        {"marks_50M", [] { return record(marksBlock(50000000)); }},
        {"marks_50M_claiming_30MiB", [] { return record(marksBlock(50000000, 30 * MiB)); }},
    };
    for (const auto& [name, make] : cases) {
        benchmark::RegisterBenchmark((std::string("read/") + name).c_str(),
                                     [make = make](benchmark::State& state) { readRecord(state, make); })
            ->Unit(benchmark::kMillisecond);
    }
    return true;
}

const bool registered = registerCases();

} // namespace

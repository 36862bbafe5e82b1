#pragma once

#include "lchmfile.h"

#include <QFileInfo>
#include <QString>

#include <benchmark/benchmark.h>

// The generated book of 20,000 topics (target big_book), or an empty string after marking the
// benchmark skipped when it has not been built.
inline QString bigBook(benchmark::State& state)
{
    const QString path = QStringLiteral(PAGEWICK_BIG_BOOK);
    if (QFileInfo::exists(path))
        return path;
    state.SkipWithError("big book missing: build the big_book target");
    return QString();
}

// Opens the generated book into `book`; false after marking the benchmark skipped when the book
// is missing or does not open.
inline bool openBigBook(benchmark::State& state, LCHMFile* book)
{
    const QString path = bigBook(state);
    if (path.isEmpty())
        return false;
    if (!book->openBook(path)) {
        state.SkipWithError("cannot open the big book");
        return false;
    }
    return true;
}

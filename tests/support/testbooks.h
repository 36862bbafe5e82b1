#pragma once

#include <QString>

// Where the tests find their books.
QString testBookPath(const QString& name);     // a book compiled from tests/books/ at build time
QString sharedBookPath(const QString& name);   // a real book beside the repository; empty if absent

// The most memory this process has held at once so far, in KiB (its peak resident set). A test
// compares it before and after an operation to see that nothing large was allocated.
qint64 peakMemoryKiB();

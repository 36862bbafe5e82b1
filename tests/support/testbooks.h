#pragma once

#include <QString>

// Where the tests find their books.
QString testBookPath(const QString& name);     // a book compiled from tests/books/ at build time
QString sharedBookPath(const QString& name);   // a real book beside the repository; empty if absent

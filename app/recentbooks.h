#pragma once

#include <QString>
#include <QStringList>

// The books the reader opened last, kept in the reader's settings store (readerSettings()) under
// "MainWindow/recentBooks": absolute paths, the newest first, each once, at most ten. Several
// windows share the list, so every change reads the stored list again before writing it.
namespace RecentBooks {

constexpr int kMaxBooks = 10;

// The stored list, cut to kMaxBooks, without empty or repeated entries.
QStringList load();
// Puts path (made absolute) first, drops an older entry of the same book and the oldest beyond
// kMaxBooks, and stores the list.
void remember(const QString& path);

} // namespace RecentBooks

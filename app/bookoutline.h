#pragma once

#include "lchmparsedentry.h"

#include <QString>
#include <QVector>

#include <functional>

class BackgroundRunner;
class QObject;

// What the window takes from a book when it opens it, read in one pass over the book so that
// it can be read on a worker while the window and the page engine start.
struct BookOutline
{
    bool opened = false;
    QString errorString;   // why the book could not be opened
    // The page shown first: the book's default topic or, when it names none, the first contents
    // entry that leads somewhere (not a page saying that "/" is not in the book).
    QString homePage;
    QVector<LCHMParsedEntry> contents;
    // The book's full-text index lists words, whatever their language, or the book has HTML
    // pages whose text the search panel can index.
    bool searchable = false;
};

// Opens the book at `path` with a book object of its own, reads its outline and closes it.
// Safe on any thread.
BookOutline readBookOutline(const QString& path);

// The same on the runner's normal lane, delivered to `context` in two steps: `opened`, as soon as
// the book is open, with whether it opened (and the reason when not) and its default topic
// (empty when it names none, "/" included); then `read` with the whole outline. The window can
// ask for the first page while the contents are read.
void readBookOutlineInStages(BackgroundRunner& runner, QObject* context, const QString& path,
                             std::function<void(const BookOutline&)> opened, std::function<void(BookOutline)> read);

#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// What an extraction did.
struct ExtractionResult
{
    enum Status {
        Finished,       // every listed object was visited
        Cancelled,      // the progress callback asked to stop; what was written stays
        BookNotOpened,  // the book could not be opened: nothing was written
        NoTarget,       // the target folder could not be opened: nothing was written
    };
    Status status = Finished;
    int listed = 0;    // objects the book lists
    int written = 0;   // files written (empty objects give empty files)
    int folders = 0;   // folders created
    int folderEntries = 0;   // objects that name a folder (their path ends in "/"), made as folders
    int skipped = 0;   // container metadata and objects whose in-book path holds "#" or "$"
    int failed = 0;    // objects that could not be read, or whose file or folder could not be made
    QStringList failedNames;   // the in-book paths of the first few failed objects, in order
    QString errorString;       // why the book or the folder could not be opened
};

// Writes every file of a book into a folder tree, without any user interface.
//
// Objects are taken in the book's listing order. Only objects whose in-book path begins with "/"
// are written; backslashes are removed from the path; a path holding "#" or "$" (the book's
// system files such as /#SYSTEM and /$FIftiMain) is skipped. The chosen folder's own name may
// hold anything. Empty, "." and ".." parts of a path are dropped, and folders and files are made
// through handles on the folders above them that never follow a symbolic link, so nothing is
// created or written outside the chosen folder. Folders of any depth are made with a fixed
// number of open handles. An existing file (or link) of the same name is replaced, never
// written through. Objects are copied in pieces, so memory stays small whatever they claim.
// An object that cannot be read whole or written is counted (and its file removed), and the
// extraction goes on.
class BookExtractor
{
public:
    // Called before each object with its index and the object count; returning false stops the
    // extraction before that object.
    using Progress = std::function<bool(int index, int count)>;

    static ExtractionResult extract(const QString& bookPath, const QString& targetDir,
                                    const Progress& progress = {});

    // The folder and file names that an in-book path (as the container stores it) is written
    // to, below the chosen folder. Empty when the object is not written. *isFolder tells
    // whether the path names a folder (it ends in "/").
    static QList<QByteArray> targetParts(const QByteArray& inBookPath, bool* isFolder = nullptr);
};

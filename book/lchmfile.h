#pragma once

#include "bookidentity.h"
#include "lchmparsedentry.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

class LCHMFileImpl;

// A Compiled HTML Help book, opened for one task (loading, a search, an extraction) and
// closed again. Failures are return values and warnings; this class never shows a dialog.
//
// Opening reads the container's directory, the metadata and the topic map once per state of
// the file: an open of the same file, unchanged since, takes them from the first one (see
// LCHMBookCache) and costs next to nothing. One object is used by one thread at a time; any
// number of objects, on any threads, may have the same book open, each with its own file
// descriptor, sharing only what was read (which never changes) and decoded data (under a lock).
class LCHMFile
{
public:
    LCHMFile();
    ~LCHMFile();
    LCHMFile(const LCHMFile&) = delete;
    LCHMFile& operator=(const LCHMFile&) = delete;

    // False when the file is missing, unreadable, not a book or damaged: errorString() says which.
    bool openBook(const QString& path);
    // Whether the last openBook took the book's directory, metadata and topic map from an
    // earlier open of the same file, unchanged since, instead of reading them again.
    bool reusedParse() const;
    // Which book is open: the canonical path of the file it was opened by and the file's state
    // at opening. Empty while no book is open.
    BookIdentity identity() const;
    void closeBook();
    QString bookTitle() const;
    QString homePage() const;
    bool parseContents(QVector<LCHMParsedEntry>* out);
    // The keyword index, in the book's order: one entry per keyword (sub-keywords indented
    // under theirs), its targets in `urls`. False when the book has none or it cannot be read.
    bool parseIndex(QVector<LCHMParsedEntry>* out);
    // The whole object; false (and *out empty) when it is missing, empty, does not read whole or
    // is too large to hold in memory (errorString() says which).
    bool readFileBytes(QByteArray* out, const QString& path);
    // The whole object handed to `sink` in order, in pieces of at most 1 MiB, so objects of any
    // size pass with little memory. False when it is missing, does not read whole or `sink`
    // returns false.
    bool readFileChunks(const QString& path, const std::function<bool(const QByteArray&)>& sink);
    bool listFiles(QStringList* out);
    // The size in bytes of the object at the in-book path, from the directory (nothing is
    // read); -1 when the book holds no such object.
    qint64 objectSize(const QString& path) const;
    QString topicTitleForUrl(const QString& url) const;
    // Appends to `results` the paths of at most `limit` topics that answer `query`, in the
    // index's order; with `counts`, how often the query's phrases and required words occur in
    // each (at least 1). False when the book has no index or nothing can match.
    bool fullTextSearch(const QString& query, QStringList* results, int limit, QVector<int>* counts = nullptr);
    // Whether the book has a full-text index that lists words, in any script.
    bool hasSearchWords();
    // The name of the codec the book's text is decoded with; empty when none was found.
    QByteArray codecName() const;
    // Why the last openBook or read failed, in words for the reader.
    QString errorString() const;
    // The keys the book's search stores `word` under, folded as its own index folds words;
    // empty when the word cannot be stored. The reader's text index uses the same keys.
    // With `starts`, where each key's text begins in `word` (keys follow the word's order).
    QVector<QByteArray> searchKeys(const QString& word, QVector<qsizetype>* starts = nullptr) const;
    // Bytes in the book's code page as text (Latin-1 when the book names no language), or
    // as UTF-8 where they plainly are (see LCHMFileImpl::decodeText).
    QString decodeText(const QByteArray& bytes) const;

    // Topics a program names (lchmcontexts.cpp). hasObject: the book holds the object at the
    // in-book path (found regardless of ASCII case, as pages are). objectNamedBy: the object a
    // stored topic name stands for, "#fragment" kept: the name itself, or else its longest tail
    // of whole folder steps that names an object, since compilers may store the path on the
    // compiling machine ("C:\work\html\ui.htm" gives "/html/ui.htm"); empty when none does.
    // topicForContext: the topic the book's /#IVB table maps a help context number to, through
    // its /#STRINGS; empty when the number is not there, its string lies outside /#STRINGS or
    // names no object. The table is read no further than the object's real length.
    bool hasObject(const QString& path) const;
    QString objectNamedBy(const QString& name) const;
    QString topicForContext(quint32 context);

private:
    std::unique_ptr<LCHMFileImpl> m_impl;
};

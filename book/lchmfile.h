#pragma once

#include "lchmparsedentry.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

class LCHMFileImpl;

// A Compiled HTML Help book, opened for one task (loading, a search, an extraction) and
// closed again. Failures are return values and warnings; this class never shows a dialog.
class LCHMFile
{
public:
    LCHMFile();
    ~LCHMFile();
    LCHMFile(const LCHMFile&) = delete;
    LCHMFile& operator=(const LCHMFile&) = delete;

    bool openBook(const QString& path);
    void closeBook();
    QString bookTitle() const;
    QString homePage() const;
    bool parseContents(QVector<LCHMParsedEntry>* out);
    // The keyword index, in the book's order: one entry per keyword (sub-keywords indented
    // under theirs), its targets in `urls`. False when the book has none or it cannot be read.
    bool parseIndex(QVector<LCHMParsedEntry>* out);
    bool readFileBytes(QByteArray* out, const QString& path);
    bool listFiles(QStringList* out);
    QString topicTitleForUrl(const QString& url) const;
    bool fullTextSearch(const QString& query, QStringList* results, int limit);
    // Whether the book has a full-text index that lists words, in any script.
    bool hasSearchWords();

    LCHMFileImpl* impl() { return m_impl.get(); }

private:
    std::unique_ptr<LCHMFileImpl> m_impl;
};

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
    bool readFileBytes(QByteArray* out, const QString& path);
    bool listFiles(QStringList* out);
    QString topicTitleForUrl(const QString& url) const;
    bool fullTextSearch(const QString& query, QStringList* results, int limit);
    // Whether the book has a full-text index that lists words, in any script.
    bool hasSearchWords();
    // The keys the book's search stores `word` under, folded as its own index folds words;
    // empty when the word cannot be stored. The reader's text index uses the same keys.
    QVector<QByteArray> searchKeys(const QString& word) const;
    // Bytes in the book's code page as text (Latin-1 when the book names no language).
    QString decodeText(const QByteArray& bytes) const;

    LCHMFileImpl* impl() { return m_impl.get(); }

private:
    std::unique_ptr<LCHMFileImpl> m_impl;
};

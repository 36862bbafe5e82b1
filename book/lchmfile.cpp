#include "lchmfile.h"

#include "lchmfileimpl.h"

#include <algorithm>
#include <limits>

#include <QTextCodec>

LCHMFile::LCHMFile() : m_impl(std::make_unique<LCHMFileImpl>()) {}

LCHMFile::~LCHMFile() = default;

bool LCHMFile::openBook(const QString& path) { return m_impl->openBook(path); }
void LCHMFile::closeBook() { m_impl->closeBook(); }
BookIdentity LCHMFile::identity() const
{
    const ItsfArchive* file = m_impl->container.get();
    return file ? BookIdentity(BookIdentity::canonicalPathOf(m_impl->fileName), file->stamp()) : BookIdentity();
}
bool LCHMFile::reusedParse() const { return m_impl->reusedParse; }
QString LCHMFile::bookTitle() const { return m_impl->bookTitle(); }
QString LCHMFile::homePage() const { return m_impl->homePage(); }
bool LCHMFile::parseContents(QVector<LCHMParsedEntry>* out) { return m_impl->parseContents(out); }
bool LCHMFile::parseIndex(QVector<LCHMParsedEntry>* out)
{
    if (!out || m_impl->indexFile.isEmpty() || !m_impl->ParseAndFillTopicsTree(QString::fromLatin1(m_impl->indexFile), out))
        return false;
    // A keyword is the first Name of its entry; later Names only title its targets.
    for (LCHMParsedEntry& entry : *out) {
        if (!entry.firstName.isEmpty())
            entry.name = entry.firstName.trimmed();
        entry.firstName.clear();
    }
    return true;
}
bool LCHMFile::readFileBytes(QByteArray* out, const QString& path) { return m_impl->readFileBytes(out, path); }
bool LCHMFile::readFileChunks(const QString& path, const std::function<bool(const QByteArray&)>& sink)
{
    return m_impl->readFileChunks(path, sink);
}
bool LCHMFile::listFiles(QStringList* out) { return m_impl->listFiles(out); }
qint64 LCHMFile::objectSize(const QString& path) const
{
    ItsfUnit unit;
    if (path.isEmpty() || !m_impl->resolvePath(path, &unit))
        return -1;
    return qint64(std::min<quint64>(unit.length, quint64(std::numeric_limits<qint64>::max())));
}
QString LCHMFile::topicTitleForUrl(const QString& url) const { return m_impl->topicTitleForUrl(url); }
bool LCHMFile::fullTextSearch(const QString& query, QStringList* results, int limit, QVector<int>* counts)
{
    return m_impl->fullTextSearch(query, results, limit, counts);
}
bool LCHMFile::hasSearchWords() { return m_impl->searchIndexHasWords(); }
QByteArray LCHMFile::codecName() const { return m_impl->codec ? m_impl->codec->name() : QByteArray(); }
QString LCHMFile::errorString() const { return m_impl->errorString; }
QVector<QByteArray> LCHMFile::searchKeys(const QString& word, QVector<qsizetype>* starts) const
{
    return m_impl->searchKeys(word, starts);
}
QString LCHMFile::decodeText(const QByteArray& bytes) const { return m_impl->decodeText(bytes); }

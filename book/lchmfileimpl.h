#pragma once

#include "itsfarchive.h"
#include "lchmbookcache.h"
#include "lchmparsedentry.h"
#include "searchquery.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

class QTextCodec;

// A row of the language table: the codec for a group of Windows language identifiers.
struct LCHMTextEncoding
{
    const char* language;   // null in the closing row
    const char* codecName;  // one name, or two joined by "/"
    const quint16* lcids;   // ended by 0
};

// The work behind LCHMFile: one open book, its metadata, codec and topic map.
class LCHMFileImpl : public LCHMBookMetadata
{
public:
    // Book file
    bool openBook(const QString& path);
    void closeBook();
    QString bookTitle() const;
    QString homePage() const;
    bool parseContents(QVector<LCHMParsedEntry>* out);
    // The whole object into *out; false (and *out empty) when it is missing, empty, does not
    // read whole or is too large to hold in memory.
    bool readFileBytes(QByteArray* out, const QString& path);
    // The whole object handed to `sink` in pieces of at most 1 MiB; false when it is missing,
    // does not read whole or `sink` returns false.
    bool readFileChunks(const QString& path, const std::function<bool(const QByteArray&)>& sink);
    bool readFileText(const QString& path, QString* out);
    bool listFiles(QStringList* out);
    QString topicTitleForUrl(const QString& url) const;
    // The topic map, built on first use; null when the book has no topic tables or they do
    // not read.
    std::shared_ptr<const LCHMTopicMap> topics() const;
    bool resolvePath(const QString& path, ItsfUnit* unit) const;
    quint64 readObjectRange(const ItsfUnit& unit, unsigned char* buffer, quint64 offset, quint64 length);

    // Text encodings
    static const LCHMTextEncoding* findEncodingByLcid(quint16 lcid);
    bool chooseCodecByLcid();
    bool setUpCodec(const QByteArray& name);
    // Book text up to its first NUL byte, decoded with the book's codec (Latin-1 without one),
    // except text that is well-formed UTF-8 holding characters of two bytes or more: help
    // compilers copy page titles, sitemaps and pages byte for byte, so a book that declares a
    // legacy code page may carry UTF-8 text. Short legacy text can be well-formed UTF-8 by
    // chance, so text taken by itself needs MinUtf8Characters such characters; under a
    // double-byte codec (GBK, Big5, Shift-JIS, UHC) only characters of three bytes or more
    // count: one Chinese character in five written in GBK is well-formed UTF-8 of two bytes
    // (as are whole words: 系统, 为什么, 目前为止), while of a hundred thousand runs of such
    // text none read as a character of three bytes. With `utf8Likely` (the table the text
    // comes from reads as UTF-8, see stringTableIsUtf8) one character of two bytes or more is
    // enough. A book whose codec is UTF-16 or UTF-32 always decodes with it.
    static constexpr qsizetype MinUtf8Characters = 2;
    QString decodeText(const QByteArray& bytes, bool utf8Likely = false) const;
    QString decodeText(const char* bytes) const;
    // How many characters of `minimumLength` (2 to 4) bytes or more `bytes` holds when all
    // of it is well-formed UTF-8 (no overlong forms, surrogates, values above U+10FFFF or cut
    // sequences); -1 when it is not.
    static qsizetype utf8Characters(QByteArrayView bytes, int minimumLength = 2);
    // Whether a table of NUL-ended strings (/#STRINGS) reads as UTF-8: more of its strings
    // are UTF-8 by the rule of decodeText than are not well-formed UTF-8, and those hold at
    // least MinUtf8Characters characters between them. One pass, no copies.
    bool stringTableIsUtf8(QByteArrayView table) const;
    QByteArray searchWordBytes(const QString& word) const;
    // The keys the full-text index stores `word` under: its folded bytes, or one key per
    // character for the ideographic scripts. Empty when the word cannot be stored.
    // With `starts`, where each key's text begins in `word`.
    QVector<QByteArray> searchKeys(const QString& word, QVector<qsizetype>* starts = nullptr) const;

    // Sitemap parser and HTML entities
    bool ParseAndFillTopicsTree(const QString& file, QVector<LCHMParsedEntry>* out);
    // `sitemapPath` is the sitemap's in-book path; relative targets resolve against its folder.
    bool parseSitemapText(const QString& text, QVector<LCHMParsedEntry>* out,
                          const QString& sitemapPath = QStringLiteral("/"));
    int findStringInQuotes(QStringView tag, int start, QString& value, bool firstQuote, bool decodeEntities);
    QString decodeEntity(const QString& entity);

    // Full-text search
    bool fullTextSearch(const QString& query, QStringList* results, int limit, QVector<int>* counts = nullptr);
    bool lookupWord(const QString& word, bool phraseMode, SearchHitList* hits);
    // Whether the full-text index lists at least one word in at least one topic, whatever
    // the script of its words. Reads the header, one descent and at most a few leaves.
    bool searchIndexHasWords();
    quint32 findLeafNode(const QByteArray& key, quint32 rootOffset, quint32 nodeSize, quint16 depth);
    bool lookupPhrase(const QStringList& words, SearchHitList* hits);
    static void cleanSearchWord(QString& word);
    // Appends the paths of the hits' topics, each once; with `counts`, each one's occurrences.
    void collectResultPaths(const SearchHitList& hits, QStringList* results, int limit,
                            const QHash<quint32, int>& occurrences = {}, QVector<int>* counts = nullptr);

    // The bit coding of the full-text index's location lists; its byte-wise numbers are
    // ByteReader::readVarint32. A cursor over a list reads bits most significant first.
    struct BitCursor
    {
        const unsigned char* data = nullptr;
        size_t size = 0;   // bytes available
        size_t byte = 0;   // current byte
        int bit = 7;       // current bit, 7 (most significant) down to 0
    };
    // A scale/root integer at the cursor. All 64 bits set and *ok false for a scale other
    // than 2, a bit position above 7, a value wider than 63 bits or a stream that ends early.
    static quint64 readScaleRootInt(BitCursor* cursor, quint8 scale, quint8 root, bool* ok);

    // Up to `length` bytes of an object from `offset`, appended to *out; their count is returned
    // (see ItsfArchive::read), 0 when no book is open.
    quint64 readObjectBytes(const ItsfUnit& unit, quint64 offset, quint64 length, QByteArray* out)
    {
        return container ? container->read(unit, offset, length, out) : 0;
    }

private:
    friend class LCHMFile;   // the facade reports errorString, reusedParse and the identity

    // Per-book state, fixed at opening.
    std::unique_ptr<ItsfArchive> container;
    QString errorString;   // why the last openBook or read failed
    QString fileName;      // the book file as opened, for its identity
    // The book's metadata, language and topic map are the LCHMBookMetadata members.
    // Whether this open took its directory and metadata from an earlier open of the same
    // unchanged file.
    bool reusedParse = false;

    bool resolveForReading(const QString& path, ItsfUnit* unit);
    void readWindowsAndStrings();
    void readSystem();
    QByteArray singleRootFile(const char* extension) const;
    std::shared_ptr<const LCHMTopicMap> buildTopicMap() const;
};

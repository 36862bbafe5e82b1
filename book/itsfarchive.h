#pragma once

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QString>
#include <QVector>

#include <memory>

class LzxDecoder;

// One object (internal file) of an ITSF container, as found in its directory.
struct ItsfUnit
{
    QByteArray path;      // as stored, e.g. "/index.htm" or "::DataSpace/NameList"
    quint64 space = 0;    // 0: stored uncompressed, 1: LZX-compressed section
    quint64 start = 0;    // offset inside its section
    quint64 length = 0;   // size in bytes
};

// Read-only access to an ITSF (Compiled HTML Help) container: its directory and the
// content of every object, uncompressed or LZX-compressed. Every read is bounds-checked
// against the file; a damaged container gives failures, never out-of-bounds reads. Memory
// follows the bytes the file holds or the decoder really gives, never a length or count the
// container claims.
class ItsfArchive
{
public:
    ItsfArchive();
    ~ItsfArchive();
    ItsfArchive(const ItsfArchive&) = delete;
    ItsfArchive& operator=(const ItsfArchive&) = delete;

    // Opens the container at `path` and reads its directory. False when the file is missing,
    // cannot be read, is not an ITSF container or its header or directory is damaged;
    // errorString() then says which, in words for the reader. Call it once, on a
    // fresh archive.
    bool open(const QString& path);
    // Why the last open() or read() failed; empty after a success.
    QString errorString() const { return m_error; }

    // Looks an object up by its path: exact match first, then ignoring ASCII case.
    bool resolve(const QByteArray& path, ItsfUnit* unit) const;

    // Copies up to `length` bytes of the object from `offset` into `buffer`, a caller's buffer
    // of a fixed size (a record); returns the count copied, 0 past the end or on failure.
    // Anything whose size the book gives is read with read().
    quint64 retrieve(const ItsfUnit& unit, char* buffer, quint64 offset, quint64 length);

    // Appends up to `length` bytes of the object, from `offset` on, to `out` and returns the
    // count appended: fewer than asked at the object's end, or where the file ends or the
    // compressed data stops decoding. `out` grows in steps as the bytes arrive, so a damaged
    // length costs nothing. On a short read errorString() says why.
    quint64 read(const ItsfUnit& unit, quint64 offset, quint64 length, QByteArray* out);

    // Every object of the directory, in directory order.
    const QVector<ItsfUnit>& units() const { return m_units; }

    // The size of the file, as it was when opened.
    quint64 fileSize() const { return m_fileSize; }

    // The length the container's header declares (the ITSF header section's file size).
    quint64 declaredLength() const { return m_declaredLength; }

private:
    bool fail(const QString& reason);
    bool loadHeader();
    bool readDirectory(const QByteArray& dir);
    bool parseListingChunk(const char* chunk, quint32 chunkSize);
    bool setUpCompressedSection();
    quint64 readRaw(quint64 offset, char* buffer, quint64 length);
    quint64 readCompressed(quint64 offset, char* buffer, quint64 length);
    const QByteArray* frame(quint64 index);
    void buildIndex() const;

    QFile m_file;
    quint64 m_fileSize = 0;
    quint64 m_declaredLength = 0;
    quint64 m_contentOffset = 0;   // file offset of section 0's data
    QString m_error;
    QVector<ItsfUnit> m_units;
    mutable QHash<QByteArray, int> m_exact;
    mutable bool m_indexed = false;

    // The LZX-compressed section ("::DataSpace/Storage/MSCompressed/Content").
    bool m_compressedReady = false;
    bool m_compressedTried = false;
    ItsfUnit m_content;
    QVector<quint64> m_resetTable;   // compressed offset of each 32 KiB frame
    quint64 m_uncompressedLength = 0;
    quint64 m_compressedLength = 0;
    quint32 m_framesPerReset = 1;
    int m_windowBits = 16;
    std::unique_ptr<LzxDecoder> m_lzx;
    qint64 m_nextFrame = -1;          // frame the decoder can decode next without a reset
    QHash<quint64, QByteArray> m_frameCache;
    QVector<quint64> m_cacheOrder;
};

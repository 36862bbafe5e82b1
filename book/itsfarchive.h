#pragma once

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QString>
#include <QVector>

#include <functional>
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
// against the file; a damaged container gives failures, never out-of-bounds reads.
class ItsfArchive
{
public:
    ~ItsfArchive();
    ItsfArchive(const ItsfArchive&) = delete;
    ItsfArchive& operator=(const ItsfArchive&) = delete;

    // Null when the file cannot be read or is not an ITSF container.
    static std::unique_ptr<ItsfArchive> open(const QString& path);

    // Looks an object up by its path: exact match first, then ignoring ASCII case.
    bool resolve(const QByteArray& path, ItsfUnit* unit) const;

    // Copies up to `length` bytes of the object from `offset` into `buffer`;
    // returns the count copied, 0 past the end or on failure.
    quint64 retrieve(const ItsfUnit& unit, char* buffer, quint64 offset, quint64 length);

    // How many bytes of the object can actually be read: its declared length, cut to what the
    // file or the compressed section holds. Callers size buffers by this, never by the length alone.
    quint64 readableLength(const ItsfUnit& unit);

    // Every object of the directory, in directory order.
    const QVector<ItsfUnit>& units() const { return m_units; }

    // The length the container's header declares (the ITSF header section's file size).
    quint64 declaredLength() const { return m_declaredLength; }

private:
    ItsfArchive();
    bool load(const QString& path);
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

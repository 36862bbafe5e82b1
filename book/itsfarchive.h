#pragma once

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QVector>

#include <memory>

class LzxDecoder;
struct stat;

// The state of a file as the file system reports it. Any write to the file, in place or by
// putting another file in its place, changes at least one of these: the change time cannot be
// set back by anyone, and the size and modification time follow the content.
struct ItsfFileStamp
{
    quint64 device = 0;
    quint64 inode = 0;
    quint64 size = 0;
    qint64 modifiedNs = 0;   // modification time, nanoseconds since the epoch
    qint64 changedNs = 0;    // status change time, nanoseconds since the epoch

    bool operator==(const ItsfFileStamp& o) const
    {
        return device == o.device && inode == o.inode && size == o.size && modifiedNs == o.modifiedNs
            && changedNs == o.changedNs;
    }
    bool operator!=(const ItsfFileStamp& o) const { return !(*this == o); }
    // Both name the same file (device and inode), changed since or not.
    bool isSameFile(const ItsfFileStamp& o) const { return device == o.device && inode == o.inode; }

    static ItsfFileStamp of(const struct stat& st);
    // The stamp of the file open on descriptor `fd`; false when the system cannot tell.
    static bool ofDescriptor(int fd, ItsfFileStamp* stamp);
};

// One object (internal file) of an ITSF container, as found in its directory.
struct ItsfUnit
{
    QByteArray path;      // as stored, e.g. "/index.htm" or "::DataSpace/NameList"
    quint64 space = 0;    // 0: stored uncompressed, 1: LZX-compressed section
    quint64 start = 0;    // offset inside its section
    quint64 length = 0;   // size in bytes
};

// Decoded 32 KiB frames of a compressed section, kept for the next read that needs them: at
// most Capacity frames (2 MiB), the oldest dropped first. Safe to use from any thread, so that
// every archive on the same unchanged file shares what any of them decoded.
class ItsfFrameCache
{
public:
    static constexpr int Capacity = 64;

    bool find(quint64 index, QByteArray* frame) const;
    void insert(quint64 index, const QByteArray& frame);

private:
    mutable QMutex m_mutex;
    QHash<quint64, QByteArray> m_frames;
    QVector<quint64> m_order;   // oldest first
};

// What a container's header and directory say, and the layout of its LZX-compressed section:
// everything needed to find and decode an object, read once at opening. Never changed after
// open() publishes it, so archives on the same unchanged file (on any thread) can share one.
struct ItsfDirectory
{
    quint64 fileSize = 0;         // the size of the file when it was read
    quint64 contentOffset = 0;    // file offset of section 0's data
    QVector<ItsfUnit> units;      // in directory order
    QHash<QByteArray, int> exact; // path to the first unit of that name

    // The LZX-compressed section ("::DataSpace/Storage/MSCompressed/Content"); compressedReady
    // is false when the book has none or its control data or reset table is damaged.
    bool compressedReady = false;
    ItsfUnit content;
    QVector<quint64> resetTable;  // compressed offset of each 32 KiB frame
    quint64 uncompressedLength = 0;
    quint64 compressedLength = 0;
    quint32 framesPerReset = 1;
    int windowBits = 16;
    // The one part that changes after opening: frames decoded so far, behind its own lock.
    std::shared_ptr<ItsfFrameCache> frames = std::make_shared<ItsfFrameCache>();

    // Roughly what this holds in memory, for callers that keep directories around.
    quint64 approximateBytes() const;
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

    // open() in two steps, so that a caller can look for an earlier reading of the same
    // unchanged file between them: openFile() opens the file and notes its stamp(); then
    // either readDirectory() reads it, or useDirectory() takes the directory that
    // readDirectory() gave for a file with the same stamp (an archive that is handed another
    // file's directory reads garbage, bounded by that directory's file size).
    bool openFile(const QString& path);
    bool readDirectory();
    void useDirectory(std::shared_ptr<const ItsfDirectory> directory);
    // The file's state when openFile() opened it.
    const ItsfFileStamp& stamp() const { return m_stamp; }
    // Whether the file still has the stamp it had at opening (false when it cannot be asked).
    bool unchangedSinceOpen() const;
    // The directory read or taken; null before.
    std::shared_ptr<const ItsfDirectory> directory() const { return m_dir; }
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

    // Every object of the directory, in directory order (empty before a directory is read).
    const QVector<ItsfUnit>& units() const;

    // The size of the file, as it was when its directory was read.
    quint64 fileSize() const { return m_dir ? m_dir->fileSize : 0; }

private:
    bool fail(const QString& reason);
    bool loadHeader(ItsfDirectory* dir);
    bool parseDirectory(const QByteArray& bytes, ItsfDirectory* dir);
    bool parseListingChunk(const char* chunk, quint32 chunkSize, ItsfDirectory* dir);
    bool setUpCompressedSection(ItsfDirectory* dir);
    quint64 readRaw(quint64 offset, char* buffer, quint64 length);
    quint64 readCompressed(quint64 offset, char* buffer, quint64 length);
    bool frame(quint64 index, QByteArray* out);

    QFile m_file;
    ItsfFileStamp m_stamp;
    QString m_error;
    std::shared_ptr<const ItsfDirectory> m_dir;

    // The decoder: this archive's own.
    std::unique_ptr<LzxDecoder> m_lzx;
    qint64 m_nextFrame = -1;          // frame the decoder can decode next without a reset
};

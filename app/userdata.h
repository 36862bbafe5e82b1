#pragma once

#include "itsfarchive.h"
#include "notestore.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// A reader's notes and bookmarks, stored in the book file behind the length that the
// container's header declares, as one record:
//
//   offset 0   8 bytes  magic 19790817 (signed 64-bit, big-endian)
//          8   4 bytes  payload stream version, 8
//         12   4 bytes  reserved, 0
//         16   4 bytes  N, byte count of the compressed block
//         20   N bytes  the payload in qCompress form (level 7)
//
// The payload is written with QDataStream version 8: the page count, each page's path, mark
// count and marks (start, length), then the bookmark string count and the strings (title,
// path, title, path, ...).
namespace UserDataRecord {

constexpr qint64 Magic = 19790817;
constexpr int StreamVersion = 8;
constexpr int HeaderSize = 20;
constexpr int CompressionLevel = 7;

// The most a record may hold once uncompressed, and the most its contents may cost in memory
// once read (each page and string is charged for its bookkeeping as well as its bytes). Both are
// far beyond any reader's notes: 100,000 noted and bookmarked pages are a 15 MB payload costing
// 40 MB. A record beyond either is treated as one that cannot be read. Inflating is what takes
// time: 32 MiB of the most compressible data take zlib about 0.15 s on a desktop machine.
constexpr qint64 MaxPayloadSize = qint64(32) << 20;
constexpr qint64 MaxDecodedCost = qint64(64) << 20;

// The payload bytes for these notes and bookmarks.
QByteArray encodePayload(const NoteStore& notes, const QStringList& bookmarks);

// The whole record (header and compressed block); empty when there is nothing to store.
QByteArray encode(const NoteStore& notes, const QStringList& bookmarks);

// How much of a record could be read.
enum class Decoded {
    NotARecord,  // the bytes do not begin with the magic: nothing was loaded
    Damaged,     // something is wrong; *notes and *bookmarks hold what was sound before it
    Complete,    // the whole record was read
};

// Reads a payload. Pages are taken in order up to the first one that is cut short or
// malformed (an odd string length, a count larger than the bytes left); after such damage
// the bookmarks cannot be found and none are loaded. Bookmarks are taken as whole
// (title, path) pairs up to the first damaged string. No count is trusted for an
// allocation, so a count of 2^31 in a few bytes fails at once. Marks with a negative start
// or length are dropped. A page that appears twice gets the marks of both (found by hash, so
// reading takes time in proportion to the payload). Reading stops as damaged when what was read
// would cost more than MaxDecodedCost in memory.
Decoded decodePayload(const QByteArray& payload, NoteStore* notes, QStringList* bookmarks);

// Reads the record at the start of `tail`, the bytes behind the declared length. When the
// record there is damaged and a complete copy of a record ends exactly at the end of `tail`
// (the copy the writer leaves while it replaces a record), that copy is read instead; at most
// a few such copies are tried.
// Blocks are inflated with zlib in steps, never by the size a block claims: all blocks tried
// together may produce at most MaxPayloadSize bytes, and a block that would produce more, or
// not what it claims, is damaged. So any input is read in a fraction of a second and a bounded
// amount of memory.
Decoded decode(const QByteArray& tail, NoteStore* notes, QStringList* bookmarks);

} // namespace UserDataRecord

// The user data of one book file: detection at load, reading, and writing at close.
//
// Only a real container is written to: the file begins with "ITSF" and its declared length is
// above 0 and not beyond the file's size. Writing never changes a byte below the declared
// length, and a failed write leaves the book as it was. See writeUserData().
//
// Every step works on one descriptor of the file: the path is looked up once per step, and
// every check (header, declared length, size, the record there) is made through the descriptor
// that is then written, so a file renamed over the path meanwhile is never the one changed.
class BookUserData
{
public:
    explicit BookUserData(const QString& bookPath = QString());

    void setBookPath(const QString& bookPath) { m_path = bookPath; }
    QString bookPath() const { return m_path; }

    // Reads the declared length (the low 32 bits of the container's length at file offset
    // 104, sign-extended) and the file size, and remembers which file this is (device and
    // inode). True when the file is a real container with bytes behind its declared length.
    bool hasUserData();

    // Reads the record behind the declared length into *notes and *bookmarks (both are
    // cleared first). True when a whole record was read; after a damaged record the outputs
    // hold what was sound (see UserDataRecord::decodePayload) and stored() says Unreadable.
    // Foreign trailing bytes load nothing. Detects the file again through its own descriptor
    // (as hasUserData() does), so the record read is the one of the file detected. Waits
    // briefly for a writer that holds the book's lock.
    bool readUserData(NoteStore* notes, QStringList* bookmarks);

    // What readUserData() found behind the declared length.
    enum class Stored {
        Nothing,     // the file ends at its declared length (or is no container)
        Foreign,     // bytes that are not a record
        Record,      // a record, read whole
        Unreadable,  // a record that could not be read whole: it is kept as it is
    };
    Stored stored() const { return m_stored; }
    // True when these notes and bookmarks are exactly what readUserData() loaded.
    bool sameAsRead(const NoteStore& notes, const QStringList& bookmarks) const;

    // A record that cannot be read whole is never replaced or removed unless this is set: the
    // reader's choice to replace it with the notes and bookmarks of this session.
    void setReplaceUnreadable(bool replace) { m_replaceUnreadable = replace; }

    // Replaces the record with one holding these notes and bookmarks, or removes it when both
    // are empty. True when the file ends in that state; false with errorString() otherwise.
    //
    // One writer at a time: the whole read-check-write holds an exclusive lock (flock) on the
    // book; a writer that cannot take it within lockTimeout() fails as busy, having written
    // nothing (on a file system without flock the writer goes on alone, with a warning).
    // Under the lock, through the locked descriptor, the file must still be the one
    // detected at load (same device, inode and declared length) and a real container; the
    // record there is read and, when it cannot be read whole, left alone (see
    // setReplaceUnreadable()). The write goes through a descriptor reopened from the locked one
    // (/proc/self/fd), so it reaches the same file whatever the path names by then.
    //
    // The new record is built in memory first. When it equals the record already there the
    // file is not touched. Otherwise, when an old record exists, a copy of the new record is
    // first appended behind everything (and synced), then the new record is written over the
    // old one at the declared length (synced), and the file is cut behind it. A process or
    // machine that dies at any moment leaves a file whose record reads as the old or the new
    // one (decode() finds the copy when the first record is torn); a first record gets its magic
    // last, so until it is whole the bytes do not read as a record. A write that fails puts back
    // the bytes it replaced and the old size. With nothing to store, the record is removed by
    // cutting the file at the declared length; foreign trailing bytes are then left alone.
    // A file without owner read and write permission gets them (fchmod on the locked
    // descriptor) for the write and always gets its own mode back.
    bool writeUserData(const NoteStore& notes, const QStringList& bookmarks);

    // Why the last readUserData() or writeUserData() failed, with the system's reason where
    // there is one; empty after success.
    QString errorString() const { return m_errorString; }

    // How long a writer waits for another one to finish (2 seconds unless changed).
    int lockTimeout() const { return m_lockTimeoutMs; }
    void setLockTimeout(int milliseconds) { m_lockTimeoutMs = milliseconds; }

    qint64 declaredLength() const { return m_declaredLength; }
    qint64 userDataLength() const { return m_userDataLength; }
    bool userDataPresent() const { return m_userDataPresent; }
    bool isContainer() const { return m_isContainer; }
    // The bytes behind the declared length as read by readUserData() (only when they begin
    // with the record's magic).
    const QByteArray& userDataBytes() const { return m_userDataBytes; }

    // Fault injection for tests. After `budget` more bytes have been written, FailWrite makes
    // the write that crosses the budget fail after writing its first bytes, as a full disk does
    // (the reason given is ENOSPC), while later writes work; Crash makes every later write,
    // resize and sync do nothing, as if the process had died there. ReadOnly makes opening the
    // book for writing fail as on a read-only file system (EROFS).
    enum class Fault { None, FailWrite, Crash, ReadOnly };
    void setFault(Fault fault, qint64 budget = 0) { m_fault = fault; m_faultBudget = budget; }
    // Bytes written by the last writeUserData().
    qint64 bytesWritten() const { return m_bytesWritten; }

private:
    struct Detection
    {
        qint64 fileSize = -1;
        qint64 declaredLength = 0;
        bool container = false;
        ItsfFileStamp stamp;   // which file this is: device and inode
    };
    Detection detect(int fd) const;
    void remember(const Detection& d);
    bool fail(const QString& reason);

    friend class TailWriter;

    QString m_path;
    qint64 m_declaredLength = 0;
    qint64 m_userDataLength = 0;
    bool m_userDataPresent = false;
    bool m_isContainer = false;
    bool m_detected = false;
    ItsfFileStamp m_stamp;
    QByteArray m_userDataBytes;
    Stored m_stored = Stored::Nothing;
    QByteArray m_readPayload;  // the payload of what was loaded
    bool m_replaceUnreadable = false;
    QString m_errorString;
    int m_lockTimeoutMs = 2000;

    Fault m_fault = Fault::None;
    qint64 m_faultBudget = 0;
    qint64 m_bytesWritten = 0;
};

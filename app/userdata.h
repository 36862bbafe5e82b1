#pragma once

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
// or length are dropped.
Decoded decodePayload(const QByteArray& payload, NoteStore* notes, QStringList* bookmarks);

// Reads the record at the start of `tail`, the bytes behind the declared length. When the
// record there is damaged and a complete copy of a record ends exactly at the end of `tail`
// (the copy the writer leaves while it replaces a record), that copy is read instead.
// A block is uncompressed only when its declared size is one that zlib can reach from it.
Decoded decode(const QByteArray& tail, NoteStore* notes, QStringList* bookmarks);

} // namespace UserDataRecord

// The user data of one book file: detection at load, reading, and writing at close.
//
// Only a real container is written to: the file begins with "ITSF" and its declared length is
// above 0 and not beyond the file's size. Writing never changes a byte below the declared
// length, and a failed write leaves the book as it was. See writeUserData().
class BookUserData
{
public:
    explicit BookUserData(const QString& bookPath = QString());

    void setBookPath(const QString& bookPath) { m_path = bookPath; }
    QString bookPath() const { return m_path; }

    // Reads the declared length (the low 32 bits of the container's length at file offset
    // 104, sign-extended) and the file size. True when the file is a real container with
    // bytes behind its declared length.
    bool hasUserData();

    // Reads the record behind the declared length into *notes and *bookmarks (both are
    // cleared first). True when a whole record was read; after a damaged record the outputs
    // hold what was sound (see UserDataRecord::decodePayload). Foreign trailing bytes load
    // nothing. Calls hasUserData() first when it has not run yet.
    bool readUserData(NoteStore* notes, QStringList* bookmarks);

    // Replaces the record with one holding these notes and bookmarks, or removes it when both
    // are empty. True when the file ends in that state. The file is checked again before it is
    // touched: nothing is written unless it is still the container detected at load.
    //
    // The new record is built in memory first. When it equals the record already there the
    // file is not touched. Otherwise, when an old record exists, a copy of the new record is
    // first appended behind everything (and synced), then the new record is written over the
    // old one at the declared length (synced), and the file is cut behind it. A process or
    // machine that dies at any moment leaves a file whose record reads as the old or the new
    // one (decode() finds the copy when the first record is torn). A write that fails puts back
    // the bytes it replaced and the old size. With nothing to store, the record is removed by
    // cutting the file at the declared length; foreign trailing bytes are then left alone.
    // A file without owner read and write permission gets them for the write and always gets
    // its own permissions back.
    bool writeUserData(const NoteStore& notes, const QStringList& bookmarks);

    qint64 declaredLength() const { return m_declaredLength; }
    qint64 userDataLength() const { return m_userDataLength; }
    bool userDataPresent() const { return m_userDataPresent; }
    bool isContainer() const { return m_isContainer; }
    // The bytes behind the declared length as read by readUserData() (only when they begin
    // with the record's magic).
    const QByteArray& userDataBytes() const { return m_userDataBytes; }

    // Fault injection for tests. After `budget` more bytes have been written, FailWrite makes
    // the write that crosses the budget fail after writing its first bytes (as a full disk or
    // an I/O error would) while later writes work; Crash makes every later write, resize and
    // sync do nothing, as if the process had died there.
    enum class Fault { None, FailWrite, Crash };
    void setFault(Fault fault, qint64 budget = 0) { m_fault = fault; m_faultBudget = budget; }
    // Bytes written by the last writeUserData().
    qint64 bytesWritten() const { return m_bytesWritten; }

private:
    struct Detection
    {
        qint64 fileSize = -1;
        qint64 declaredLength = 0;
        bool container = false;
    };
    Detection detect() const;

    friend class TailWriter;

    QString m_path;
    qint64 m_declaredLength = 0;
    qint64 m_userDataLength = 0;
    bool m_userDataPresent = false;
    bool m_isContainer = false;
    bool m_detected = false;
    QByteArray m_userDataBytes;

    Fault m_fault = Fault::None;
    qint64 m_faultBudget = 0;
    qint64 m_bytesWritten = 0;
};

#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// A passage the reader marked: a start and a length in the page's characters.
struct NoteMark
{
    int start = 0;
    int length = 0;
    friend bool operator==(const NoteMark& a, const NoteMark& b) { return a.start == b.start && a.length == b.length; }
};

// The marks of one page, in the order they were made.
struct PageNotes
{
    QString path;  // in-book path of the page
    QVector<NoteMark> marks;
    friend bool operator==(const PageNotes& a, const PageNotes& b) { return a.path == b.path && a.marks == b.marks; }
};

// The notes of the open book: at most one entry per page, in the order of each page's first note.
class NoteStore : public QVector<PageNotes>
{
public:
    // Appends the mark to the page's entry, or files a new entry for the page.
    void addMark(const QString& path, NoteMark mark)
    {
        for (PageNotes& page : *this) {
            if (page.path == path) {
                page.marks.append(mark);
                return;
            }
        }
        append(PageNotes{path, {mark}});
    }
    // Removes the page's entry with all its marks.
    void eraseNotes(const QString& path)
    {
        removeIf([&path](const PageNotes& page) { return page.path == path; });
    }
};

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
//
// Bytes in, values out, and back: nothing here touches a file. The locked, crash-safe reading
// and writing of the book is BookUserData's.
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

// How many of the `available` bytes behind the declared length, beginning with `head` (their
// first HeaderSize bytes, or all when fewer), decode() needs: all of them when they may hold a
// record and the copy a replacing writer leaves behind it, otherwise the first record alone;
// -1 when even that is larger than any record written or read here; 0 when `head` does not
// begin with the record's magic (the bytes are someone else's).
qint64 bytesToRead(const QByteArray& head, qint64 available);

// The container's header as the record's placement needs it: the bytes of a file from offset 0
// (ContainerHeadSize of them, fewer when the file is shorter) and the file's size.
constexpr qint64 ContainerHeadSize = 112;
struct ContainerHead
{
    // The low 32 bits of the container's length at file offset 104, sign-extended; 0 when the
    // file ends before them.
    qint64 declaredLength = 0;
    // A real container, the only kind of file a record is written into: it begins with "ITSF",
    // its declared length is not inside its header (so above 0) and not beyond the file's size.
    // Lengths of 2^31 bytes and more (a non-zero high half) are not handled.
    bool valid = false;
};
ContainerHead readContainerHead(const QByteArray& head, qint64 fileSize);

} // namespace UserDataRecord

#include "userdata.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QScopeGuard>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

// File offset of the low 32 bits of the container's declared length, and of the high 32 bits.
constexpr qint64 DeclaredLengthOffset = 104;
constexpr qint64 DeclaredLengthEnd = DeclaredLengthOffset + 8;

// The largest compressed block a record of MaxPayloadSize bytes can have (its 4-byte size and
// zlib's worst case, rounded up), and the largest trailing region read whole: a record and the
// copy a replacing writer leaves behind it. A longer region is read only as far as its first
// record.
constexpr qint64 MaxBlockSize = 4 + UserDataRecord::MaxPayloadSize + UserDataRecord::MaxPayloadSize / 1000 + 64;
constexpr qint64 MaxTailRead = 2 * (UserDataRecord::HeaderSize + MaxBlockSize);

// How many copies of a record behind a damaged one are tried before giving up.
constexpr int MaxCopiesTried = 8;

// What one page and one string cost in memory beyond their bytes, as decodePayload counts it.
constexpr qint64 PageCost = 128;
constexpr qint64 StringCost = 64;

const QByteArray& magicBytes()
{
    static const QByteArray bytes = [] {
        QByteArray b(8, Qt::Uninitialized);
        qToBigEndian<qint64>(UserDataRecord::Magic, b.data());
        return b;
    }();
    return bytes;
}

quint32 be32(const char* p)
{
    return qFromBigEndian<quint32>(p);
}

QString tr(const char* text)
{
    return QCoreApplication::translate("BookUserData", text);
}

// "what: the system's reason".
QString reason(const char* what, int error)
{
    return tr(what) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

// Reads big-endian fields from a byte array; every read checks the bytes left first.
class PayloadReader
{
public:
    explicit PayloadReader(const QByteArray& data)
        : m_data(data.constData()), m_left(data.size())
    {
    }

    qsizetype left() const { return m_left; }

    bool u32(quint32* value)
    {
        if (m_left < 4)
            return false;
        *value = be32(m_data);
        advance(4);
        return true;
    }

    bool s32(qint32* value)
    {
        quint32 v = 0;
        if (!u32(&v))
            return false;
        *value = qint32(v);
        return true;
    }

    // A byte count and that many bytes of big-endian UTF-16; all ones is the null string.
    bool string(QString* value)
    {
        quint32 bytes = 0;
        if (!u32(&bytes))
            return false;
        if (bytes == 0xFFFFFFFFu) {
            *value = QString();
            return true;
        }
        if ((bytes & 1u) != 0 || qsizetype(bytes) > m_left)
            return false;
        QString s(qsizetype(bytes / 2), Qt::Uninitialized);
        qFromBigEndian<char16_t>(m_data, s.size(), s.data());
        advance(qsizetype(bytes));
        *value = std::move(s);
        return true;
    }

private:
    void advance(qsizetype n)
    {
        m_data += n;
        m_left -= n;
    }

    const char* m_data;
    qsizetype m_left;
};

// Inflates a block in qCompress form (a 4-byte big-endian size, then a zlib stream) into *out.
// The buffer grows with what the stream really produces, never to the size claimed in advance;
// at most *budget bytes are produced, and *budget shrinks by what was. False when the block
// claims more than the budget, produces more or less than it claims, or is not a whole stream.
bool inflateBlock(const char* block, qsizetype size, qint64* budget, QByteArray* out)
{
    if (size < 4)
        return false;
    const qint64 claimed = be32(block);
    if (claimed == 0 || claimed > *budget)
        return false;

    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return false;
    const auto end = qScopeGuard([&zs] { inflateEnd(&zs); });
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block + 4));
    zs.avail_in = uInt(size - 4);

    // One byte more than claimed shows a stream that goes on beyond its claim.
    const qsizetype limit = qsizetype(claimed) + 1;
    QByteArray buffer(std::min<qsizetype>(limit, 64 * 1024), Qt::Uninitialized);
    qsizetype produced = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (produced == buffer.size()) {
            if (buffer.size() >= limit)
                break;
            buffer.resize(std::min<qsizetype>(limit, buffer.size() * 2));
        }
        zs.next_out = reinterpret_cast<Bytef*>(buffer.data() + produced);
        zs.avail_out = uInt(buffer.size() - produced);
        rc = inflate(&zs, Z_NO_FLUSH);
        produced = buffer.size() - qsizetype(zs.avail_out);
        if (rc == Z_STREAM_END)
            break;
        if (rc == Z_BUF_ERROR && zs.avail_out == 0)
            continue;
        if (rc != Z_OK || (zs.avail_in == 0 && zs.avail_out != 0))
            break;   // damaged, or the stream is cut short
    }
    *budget -= produced;
    if (rc != Z_STREAM_END || produced != claimed)
        return false;
    buffer.truncate(produced);
    *out = std::move(buffer);
    return true;
}

// Reads the record that starts at `pos` of `tail`, inflating within *budget.
UserDataRecord::Decoded decodeAt(const QByteArray& tail, qsizetype pos, NoteStore* notes,
                                 QStringList* bookmarks, qint64* budget)
{
    using UserDataRecord::Decoded;
    const qsizetype available = tail.size() - pos;
    if (available < 8 || std::memcmp(tail.constData() + pos, magicBytes().constData(), 8) != 0)
        return Decoded::NotARecord;
    if (available < UserDataRecord::HeaderSize)
        return Decoded::Damaged;
    // The stored stream version and the reserved field are not compared with anything: the
    // payload is always read as version 8.
    const quint32 blockSize = be32(tail.constData() + pos + 16);
    if (blockSize < 4 || qint64(blockSize) > MaxBlockSize
        || qint64(blockSize) > qint64(available - UserDataRecord::HeaderSize))
        return Decoded::Damaged;
    QByteArray payload;
    if (!inflateBlock(tail.constData() + pos + UserDataRecord::HeaderSize, qsizetype(blockSize), budget, &payload))
        return Decoded::Damaged;
    return UserDataRecord::decodePayload(payload, notes, bookmarks);
}

} // namespace

namespace UserDataRecord {

QByteArray encodePayload(const NoteStore& notes, const QStringList& bookmarks)
{
    QByteArray payload;
    QDataStream out(&payload, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_4_2);
    out << qint32(notes.size());
    for (const PageNotes& page : notes) {
        out << page.path << qint32(page.marks.size());
        for (const NoteMark& mark : page.marks)
            out << qint32(mark.start) << qint32(mark.length);
    }
    out << qint32(bookmarks.size());
    for (const QString& s : bookmarks)
        out << s;
    return payload;
}

QByteArray encode(const NoteStore& notes, const QStringList& bookmarks)
{
    if (notes.isEmpty() && bookmarks.isEmpty())
        return {};
    const QByteArray block = qCompress(encodePayload(notes, bookmarks), CompressionLevel);
    QByteArray record;
    record.reserve(HeaderSize + block.size());
    QDataStream out(&record, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_4_2);
    out << qint64(Magic) << qint32(StreamVersion) << qint32(0) << block;
    return record;
}

Decoded decodePayload(const QByteArray& payload, NoteStore* notes, QStringList* bookmarks)
{
    PayloadReader in(payload);
    qint64 cost = 0;
    const auto afford = [&cost](qint64 more) {
        cost += more;
        return cost <= MaxDecodedCost;
    };

    QHash<QString, qsizetype> pageIndex;
    for (qsizetype i = 0; i < notes->size(); ++i)
        pageIndex.insert(notes->at(i).path, i);

    quint32 pageCount = 0;
    if (!in.u32(&pageCount))
        return Decoded::Damaged;
    // Each page takes at least eight bytes, so this loop ends within payload.size() / 8 rounds
    // whatever the count says.
    for (quint32 i = 0; i < pageCount; ++i) {
        QString path;
        quint32 markCount = 0;
        if (!in.string(&path) || !in.u32(&markCount) || quint64(markCount) * 8 > quint64(in.left()))
            return Decoded::Damaged;
        auto found = pageIndex.constFind(path);
        if (found == pageIndex.constEnd()) {
            if (!afford(PageCost + 2 * path.size()))
                return Decoded::Damaged;
            found = pageIndex.insert(path, notes->size());
            notes->append(PageNotes{path, {}});
        }
        if (!afford(qint64(markCount) * qint64(sizeof(NoteMark))))
            return Decoded::Damaged;
        QVector<NoteMark>& marks = (*notes)[found.value()].marks;
        marks.reserve(marks.size() + qsizetype(markCount));   // the bytes are there: checked above
        for (quint32 m = 0; m < markCount; ++m) {
            NoteMark mark;
            in.s32(&mark.start);
            in.s32(&mark.length);
            if (mark.start >= 0 && mark.length >= 0)
                marks.append(mark);
        }
    }

    quint32 stringCount = 0;
    if (!in.u32(&stringCount))
        return Decoded::Damaged;
    QStringList strings;
    bool sound = true;
    for (quint32 i = 0; i < stringCount; ++i) {
        QString s;
        if (!in.string(&s) || !afford(StringCost + 2 * s.size())) {
            sound = false;
            break;
        }
        strings.append(std::move(s));
    }
    if (strings.size() % 2 != 0) {
        strings.removeLast();   // a title without its path
        sound = false;
    }
    *bookmarks = std::move(strings);
    return sound ? Decoded::Complete : Decoded::Damaged;
}

Decoded decode(const QByteArray& tail, NoteStore* notes, QStringList* bookmarks)
{
    notes->clear();
    bookmarks->clear();
    // One budget for every block inflated here, so that records nested in records cost no more
    // than one.
    qint64 budget = MaxPayloadSize;
    const Decoded first = decodeAt(tail, 0, notes, bookmarks, &budget);
    if (first != Decoded::Damaged)
        return first;

    // A writer that died while replacing a record leaves a complete copy of the new record at the
    // very end of the file. Only copies that end exactly there are considered.
    int tried = 0;
    for (qsizetype pos = tail.indexOf(magicBytes(), 1); pos > 0 && tried < MaxCopiesTried && budget > 0;
         pos = tail.indexOf(magicBytes(), pos + 1)) {
        if (tail.size() - pos < HeaderSize)
            break;
        if (quint64(pos) + HeaderSize + be32(tail.constData() + pos + 16) != quint64(tail.size()))
            continue;
        ++tried;
        NoteStore copyNotes;
        QStringList copyBookmarks;
        if (decodeAt(tail, pos, &copyNotes, &copyBookmarks, &budget) == Decoded::Complete) {
            *notes = std::move(copyNotes);
            *bookmarks = std::move(copyBookmarks);
            return Decoded::Complete;
        }
    }
    return Decoded::Damaged;
}

} // namespace UserDataRecord

// Every change the writer makes to the book goes through here: positioned writes that refuse to
// go below the declared length, resizes, syncs, and the fault injection of the tests. The first
// failure is kept with the system's reason.
class TailWriter
{
public:
    TailWriter(int fd, qint64 floor, BookUserData* owner) : m_fd(fd), m_floor(floor), m_owner(owner) {}

    bool writeAt(qint64 offset, const QByteArray& data)
    {
        if (offset < m_floor || m_dead)
            return failed("could not write to the book", EIO);
        qint64 wanted = data.size();
        bool fail = false;
        if (m_owner->m_fault != BookUserData::Fault::None && m_owner->m_fault != BookUserData::Fault::ReadOnly
            && wanted > m_owner->m_faultBudget) {
            wanted = m_owner->m_faultBudget;
            fail = true;
        }
        qint64 done = 0;
        int error = 0;
        while (done < wanted) {
            const ssize_t n = ::pwrite(m_fd, data.constData() + done, size_t(wanted - done), off_t(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = n < 0 ? errno : ENOSPC;
                break;
            }
            done += n;
        }
        m_owner->m_bytesWritten += done;
        if (fail) {
            m_owner->m_faultBudget -= done;
            if (m_owner->m_fault == BookUserData::Fault::Crash)
                m_dead = true;
            else
                m_owner->m_fault = BookUserData::Fault::None;
            return failed("could not write to the book", ENOSPC);
        }
        if (m_owner->m_fault != BookUserData::Fault::None)
            m_owner->m_faultBudget -= done;
        return done == data.size() || failed("could not write to the book", error);
    }

    bool resize(qint64 size)
    {
        if (size < m_floor || m_dead)
            return failed("could not change the size of the book", EIO);
        int rc;
        do {
            rc = ::ftruncate(m_fd, off_t(size));
        } while (rc != 0 && errno == EINTR);
        return rc == 0 || failed("could not change the size of the book", errno);
    }

    bool sync()
    {
        if (m_dead)
            return failed("could not write to the book", EIO);
        return ::fsync(m_fd) == 0 || failed("could not write the book to the disk", errno);
    }

    QString errorString() const { return m_what ? reason(m_what, m_error) : QString(); }

private:
    bool failed(const char* what, int error)
    {
        if (!m_what) {
            m_what = what;
            m_error = error;
        }
        return false;
    }

    int m_fd;
    qint64 m_floor;
    BookUserData* m_owner;
    bool m_dead = false;
    const char* m_what = nullptr;
    int m_error = 0;
};

namespace {

// Reads up to `length` bytes at `offset`; a read the system refuses leaves its errno in *error.
QByteArray readAt(int fd, qint64 offset, qint64 length, int* error = nullptr)
{
    QByteArray out(qsizetype(length), Qt::Uninitialized);
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, out.data() + done, size_t(length - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && error)
            *error = errno;
        if (n <= 0)
            break;
        done += n;
    }
    out.truncate(qsizetype(done));
    return out;
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Takes a flock lock (LOCK_SH or LOCK_EX), trying again for up to timeoutMs while another
// descriptor holds a conflicting one. On failure errno says why (EWOULDBLOCK: still held).
bool lockFile(int fd, int operation, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (::flock(fd, operation | LOCK_NB) == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || clock.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(5);
    }
}

bool sameFile(int a, int b)
{
    struct stat sa, sb;
    return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// A read-write descriptor of the very file another descriptor holds, reopened through
// /proc/self/fd (or, without /proc, through the path and then checked to be the same inode).
// When the owner may not write the file, it gets owner read and write permission through the
// held descriptor (fchmod) for as long as this lives, and its own mode back afterwards.
class WritableDescriptor
{
public:
    WritableDescriptor(int held, const QString& path) : m_held(held), m_path(QFile::encodeName(path)) {}
    ~WritableDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_changed && ::fchmod(m_held, m_mode) != 0)
            qWarning("BookUserData::writeUserData: could not restore the permissions of %s", m_path.constData());
    }
    WritableDescriptor(const WritableDescriptor&) = delete;
    WritableDescriptor& operator=(const WritableDescriptor&) = delete;

    // False with errorString() when the file cannot be opened for writing.
    bool open(bool simulateReadOnly)
    {
        if (simulateReadOnly)
            return failed(EROFS);
        m_fd = reopen();
        if (m_fd < 0 && (errno == EACCES || errno == EPERM)) {
            const int refused = errno;
            struct stat st;
            const mode_t needed = S_IRUSR | S_IWUSR;
            if (::fstat(m_held, &st) == 0 && (st.st_mode & needed) != needed) {
                m_mode = st.st_mode & 07777;
                m_changed = ::fchmod(m_held, m_mode | needed) == 0;
                if (m_changed)
                    m_fd = reopen();
            }
            if (m_fd < 0 && !m_changed)
                errno = refused;
        }
        if (m_fd < 0)
            return failed(errno);
        if (!sameFile(m_fd, m_held)) {
            m_error = tr("the book file was replaced by another file while it was being saved");
            return false;
        }
        return true;
    }
    int get() const { return m_fd; }
    QString errorString() const { return m_error; }

private:
    int reopen() const
    {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_held);
        const int fd = ::open(self.constData(), O_RDWR | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT || ::access("/proc/self/fd", F_OK) == 0)
            return fd;
        return ::open(m_path.constData(), O_RDWR | O_CLOEXEC);
    }
    bool failed(int error)
    {
        m_error = reason("could not open the book for writing", error);
        return false;
    }

    int m_held;
    QByteArray m_path;
    int m_fd = -1;
    mode_t m_mode = 0;
    bool m_changed = false;
    QString m_error;
};

// What lies behind the declared length, read through the book's descriptor.
struct StoredTail
{
    BookUserData::Stored stored = BookUserData::Stored::Nothing;
    QByteArray bytes;  // only when they begin with the record's magic
    NoteStore notes;
    QStringList bookmarks;
    int error = 0;     // errno of a read the system refused
};

StoredTail readStored(int fd, qint64 start, qint64 length)
{
    using Stored = BookUserData::Stored;
    StoredTail t;
    if (length <= 0)
        return t;
    const QByteArray head = readAt(fd, start, std::min<qint64>(length, UserDataRecord::HeaderSize), &t.error);
    if (t.error != 0) {
        t.stored = Stored::Unreadable;   // whatever is there is kept
        return t;
    }
    if (!head.startsWith(magicBytes())) {
        t.stored = Stored::Foreign;
        return t;
    }
    qint64 wanted = length;
    if (wanted > MaxTailRead && head.size() == UserDataRecord::HeaderSize)
        wanted = std::min<qint64>(wanted, UserDataRecord::HeaderSize + qint64(be32(head.constData() + 16)));
    if (wanted > MaxTailRead) {
        t.stored = Stored::Unreadable;   // larger than any record this program writes or reads
        t.bytes = head;
        return t;
    }
    t.bytes = readAt(fd, start, wanted, &t.error);
    if (t.error != 0) {
        t.stored = Stored::Unreadable;
        return t;
    }
    t.stored = UserDataRecord::decode(t.bytes, &t.notes, &t.bookmarks) == UserDataRecord::Decoded::Complete
        ? Stored::Record
        : Stored::Unreadable;
    return t;
}

} // namespace

BookUserData::BookUserData(const QString& bookPath) : m_path(bookPath) {}

bool BookUserData::fail(const QString& reason)
{
    m_errorString = reason;
    return false;
}

BookUserData::Detection BookUserData::detect(int fd) const
{
    Detection d;
    if (!ItsfFileStamp::ofDescriptor(fd, &d.stamp))
        return d;
    d.fileSize = qint64(d.stamp.size);
    const QByteArray head = readAt(fd, 0, DeclaredLengthEnd);
    if (head.size() < DeclaredLengthOffset + 4)
        return d;
    d.declaredLength = qint64(qint32(qFromLittleEndian<quint32>(head.constData() + DeclaredLengthOffset)));
    // A container can hardly end inside its own header; lengths of 2^31 bytes and more (a
    // non-zero high half) are not handled.
    d.container = head.size() == DeclaredLengthEnd && head.startsWith("ITSF")
        && qFromLittleEndian<quint32>(head.constData() + DeclaredLengthOffset + 4) == 0
        && d.declaredLength >= DeclaredLengthEnd && d.declaredLength <= d.fileSize;
    return d;
}

void BookUserData::remember(const Detection& d)
{
    m_detected = true;
    m_declaredLength = d.declaredLength;
    m_userDataLength = d.fileSize < 0 ? 0 : d.fileSize - d.declaredLength;
    m_userDataPresent = m_userDataLength != 0;
    m_isContainer = d.container;
    m_stamp = d.stamp;
}

bool BookUserData::hasUserData()
{
    m_errorString.clear();
    const FileDescriptor file(::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        m_errorString = reason("could not open the book", errno);
    remember(file.get() < 0 ? Detection() : detect(file.get()));
    return m_isContainer && m_userDataLength > 0;
}

bool BookUserData::readUserData(NoteStore* notes, QStringList* bookmarks)
{
    notes->clear();
    bookmarks->clear();
    m_userDataBytes.clear();
    m_readPayload = UserDataRecord::encodePayload({}, {});
    m_stored = Stored::Nothing;
    m_errorString.clear();

    const FileDescriptor file(::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        const int error = errno;
        remember(Detection());
        return fail(reason("could not open the book", error));
    }
    // A writer busy with the record is waited for; when it takes too long the record is read as
    // it is (a torn one reads from the copy the writer leaves behind it).
    lockFile(file.get(), LOCK_SH, m_lockTimeoutMs);
    remember(detect(file.get()));
    if (!m_isContainer || m_userDataLength <= 0)
        return false;

    StoredTail tail = readStored(file.get(), m_declaredLength, m_userDataLength);
    m_stored = tail.stored;
    m_userDataBytes = std::move(tail.bytes);
    if (tail.stored == Stored::Foreign)
        return false;   // not ours: nothing is loaded, silently
    *notes = std::move(tail.notes);
    *bookmarks = std::move(tail.bookmarks);
    m_readPayload = UserDataRecord::encodePayload(*notes, *bookmarks);
    if (tail.error != 0)
        fail(reason("could not read the notes stored in the book", tail.error));
    return tail.stored == Stored::Record;
}

bool BookUserData::sameAsRead(const NoteStore& notes, const QStringList& bookmarks) const
{
    return UserDataRecord::encodePayload(notes, bookmarks) == m_readPayload;
}

bool BookUserData::writeUserData(const NoteStore& notes, const QStringList& bookmarks)
{
    m_bytesWritten = 0;
    m_errorString.clear();
    const QByteArray record = UserDataRecord::encode(notes, bookmarks);

    const FileDescriptor file(::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        if (record.isEmpty() && errno == ENOENT)
            return true;   // nothing to store, and no book left to store it in
        return fail(reason("could not open the book", errno));
    }
    if (!lockFile(file.get(), LOCK_EX, m_lockTimeoutMs)) {
        if (errno == EWOULDBLOCK)
            return fail(tr("the book is busy: another window is saving notes into it"));
        // A file system without flock cannot keep two writers apart; writing goes on alone.
        if (errno != ENOLCK && errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL)
            return fail(reason("could not lock the book", errno));
        qWarning("BookUserData::writeUserData: %s cannot be locked (%s); saving without a lock",
                 qUtf8Printable(m_path), std::strerror(errno));
    }

    // From here on the book is ours alone, and everything is read through this descriptor.
    const Detection now = detect(file.get());
    if (!now.container) {
        if (record.isEmpty())
            return true;
        qWarning("BookUserData::writeUserData: %s is not a book container; notes and bookmarks not saved",
                 qUtf8Printable(m_path));
        return fail(tr("the file is not a book container, so it cannot hold notes"));
    }
    if (m_detected && !now.stamp.isSameFile(m_stamp))
        return fail(tr("the book file was replaced by another file since it was opened"));
    if (m_detected && (!m_isContainer || now.declaredLength != m_declaredLength))
        return fail(tr("the book changed since it was opened"));
    const qint64 start = now.declaredLength;
    const qint64 end = now.fileSize;

    const StoredTail old = readStored(file.get(), start, end - start);
    const bool hasRecord = old.stored == Stored::Record || old.stored == Stored::Unreadable;
    if (!hasRecord && record.isEmpty())
        return true;   // nothing to store, and the bytes behind the container are not ours
    if (old.stored == Stored::Record && end - start == record.size() && old.bytes == record)
        return true;   // already there, byte for byte
    if (old.stored == Stored::Unreadable && !m_replaceUnreadable) {
        if (old.error != 0)
            return fail(reason("could not read the notes stored in the book", old.error));
        return fail(tr("the notes and bookmarks stored in the book could not be read, and are kept as they are"));
    }

    WritableDescriptor out(file.get(), m_path);
    if (!out.open(m_fault == Fault::ReadOnly))
        return fail(out.errorString());
    TailWriter writer(out.get(), start, this);

    if (record.isEmpty())
        return (writer.resize(start) && writer.sync()) || fail(writer.errorString());

    // What the new record will cover, kept to put back if writing it fails.
    const QByteArray replaced = readAt(out.get(), start, std::min<qint64>(end - start, record.size()));

    if (hasRecord) {
        // A copy of the new record behind everything: if the next step is torn, it is found there.
        const qint64 copyAt = std::max<qint64>(end, start + record.size());
        if (!writer.writeAt(copyAt, record) || !writer.sync()) {
            const QString why = writer.errorString();
            writer.resize(end);
            writer.sync();
            return fail(why);
        }
    }

    // A first record is written magic last: a process that dies before the magic is in place
    // leaves bytes that are not a record, which the next close replaces, rather than a torn
    // record, which is kept until the reader says otherwise.
    const bool written = hasRecord
        ? writer.writeAt(start, record) && writer.sync()
        : writer.writeAt(start + 8, record.mid(8)) && writer.sync() && writer.writeAt(start, record.left(8))
            && writer.sync();
    if (!written) {
        // Put back what was there. If even that fails, the copy stays behind and reads.
        const QString why = writer.errorString();
        if (writer.writeAt(start, replaced) && writer.sync()) {
            writer.resize(end);
            writer.sync();
        }
        return fail(why);
    }

    // The new record is in place; cutting the file behind it removes the copy or old bytes.
    return (writer.resize(start + record.size()) && writer.sync()) || fail(writer.errorString());
}

#include "userdata.h"

#include <QDataStream>
#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// File offset of the low 32 bits of the container's declared length, and of the high 32 bits.
constexpr qint64 DeclaredLengthOffset = 104;
constexpr qint64 DeclaredLengthEnd = DeclaredLengthOffset + 8;

// Largest trailing region read whole; a longer one is read only as far as its first record.
constexpr qint64 MaxTailRead = qint64(256) << 20;

// deflate cannot expand data by more than about 1032 to 1; a block that claims more is damaged,
// and no buffer is sized from its claim.
constexpr quint64 MaxInflateRatio = 1032;

// How many copies of a record behind a damaged one are tried before giving up.
constexpr int MaxCopiesTried = 8;

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

// Reads the record that starts at `pos` of `tail`.
UserDataRecord::Decoded decodeAt(const QByteArray& tail, qsizetype pos, NoteStore* notes,
                                 QStringList* bookmarks)
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
    if (blockSize < 4 || quint64(blockSize) > quint64(available - UserDataRecord::HeaderSize))
        return Decoded::Damaged;
    const char* block = tail.constData() + pos + UserDataRecord::HeaderSize;
    const quint64 claimed = be32(block);
    if (claimed == 0 || claimed > (quint64(blockSize) - 4) * MaxInflateRatio + 1024)
        return Decoded::Damaged;
    const QByteArray payload = qUncompress(reinterpret_cast<const uchar*>(block), qsizetype(blockSize));
    if (payload.isEmpty())
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
        PageNotes* page = nullptr;
        for (PageNotes& existing : *notes) {
            if (existing.path == path)
                page = &existing;
        }
        if (!page) {
            notes->append(PageNotes{path, {}});
            page = &notes->last();
        }
        for (quint32 m = 0; m < markCount; ++m) {
            NoteMark mark;
            in.s32(&mark.start);
            in.s32(&mark.length);
            if (mark.start >= 0 && mark.length >= 0)
                page->marks.append(mark);
        }
    }

    quint32 stringCount = 0;
    if (!in.u32(&stringCount))
        return Decoded::Damaged;
    QStringList strings;
    bool sound = true;
    for (quint32 i = 0; i < stringCount; ++i) {
        QString s;
        if (!in.string(&s)) {
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
    const Decoded first = decodeAt(tail, 0, notes, bookmarks);
    if (first != Decoded::Damaged)
        return first;

    // A writer that died while replacing a record leaves a complete copy of the new record at the
    // very end of the file. Only copies that end exactly there are considered.
    int tried = 0;
    for (qsizetype pos = tail.indexOf(magicBytes(), 1); pos > 0 && tried < MaxCopiesTried;
         pos = tail.indexOf(magicBytes(), pos + 1)) {
        if (tail.size() - pos < HeaderSize)
            break;
        if (quint64(pos) + HeaderSize + be32(tail.constData() + pos + 16) != quint64(tail.size()))
            continue;
        ++tried;
        NoteStore copyNotes;
        QStringList copyBookmarks;
        if (decodeAt(tail, pos, &copyNotes, &copyBookmarks) == Decoded::Complete) {
            *notes = std::move(copyNotes);
            *bookmarks = std::move(copyBookmarks);
            return Decoded::Complete;
        }
    }
    return Decoded::Damaged;
}

} // namespace UserDataRecord

// Every change the writer makes to the book goes through here: positioned writes that refuse to
// go below the declared length, resizes, syncs, and the fault injection of the tests.
class TailWriter
{
public:
    TailWriter(int fd, qint64 floor, BookUserData* owner) : m_fd(fd), m_floor(floor), m_owner(owner) {}

    bool writeAt(qint64 offset, const QByteArray& data)
    {
        if (offset < m_floor || m_dead)
            return false;
        qint64 wanted = data.size();
        bool fail = false;
        if (m_owner->m_fault != BookUserData::Fault::None && wanted > m_owner->m_faultBudget) {
            wanted = m_owner->m_faultBudget;
            fail = true;
        }
        qint64 done = 0;
        while (done < wanted) {
            const ssize_t n = ::pwrite(m_fd, data.constData() + done, size_t(wanted - done), off_t(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        m_owner->m_bytesWritten += done;
        if (m_owner->m_fault != BookUserData::Fault::None)
            m_owner->m_faultBudget -= done;
        if (fail) {
            if (m_owner->m_fault == BookUserData::Fault::Crash)
                m_dead = true;
            else
                m_owner->m_fault = BookUserData::Fault::None;
            return false;
        }
        return done == data.size();
    }

    bool resize(qint64 size)
    {
        if (size < m_floor || m_dead)
            return false;
        int rc;
        do {
            rc = ::ftruncate(m_fd, off_t(size));
        } while (rc != 0 && errno == EINTR);
        return rc == 0;
    }

    bool sync()
    {
        return !m_dead && ::fsync(m_fd) == 0;
    }

private:
    int m_fd;
    qint64 m_floor;
    BookUserData* m_owner;
    bool m_dead = false;
};

namespace {

QByteArray readAt(int fd, qint64 offset, qint64 length)
{
    QByteArray out(qsizetype(length), Qt::Uninitialized);
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(fd, out.data() + done, size_t(length - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    out.truncate(qsizetype(done));
    return out;
}

// Gives a file owner read and write permission while it lives, when the file lacks them, and
// puts the file's own mode back when it goes. The mode bits are kept as they are: QFile's
// permission flags cannot say them exactly (its "user" flags describe the caller's access and
// come back as owner bits when set).
class WritablePermissions
{
public:
    explicit WritablePermissions(const QString& path) : m_path(QFile::encodeName(path))
    {
        struct stat st;
        if (::stat(m_path.constData(), &st) != 0)
            return;
        m_original = st.st_mode & 07777;
        const mode_t needed = S_IRUSR | S_IWUSR;
        if ((m_original & needed) != needed)
            m_changed = ::chmod(m_path.constData(), m_original | needed) == 0;
    }
    ~WritablePermissions()
    {
        if (m_changed && ::chmod(m_path.constData(), m_original) != 0)
            qWarning("BookUserData::writeUserData: could not restore the permissions of %s", m_path.constData());
    }
    WritablePermissions(const WritablePermissions&) = delete;
    WritablePermissions& operator=(const WritablePermissions&) = delete;

private:
    QByteArray m_path;
    mode_t m_original = 0;
    bool m_changed = false;
};

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

} // namespace

BookUserData::BookUserData(const QString& bookPath) : m_path(bookPath) {}

BookUserData::Detection BookUserData::detect() const
{
    Detection d;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return d;
    d.fileSize = file.size();
    const QByteArray head = file.read(DeclaredLengthEnd);
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

bool BookUserData::hasUserData()
{
    const Detection d = detect();
    m_detected = true;
    m_declaredLength = d.declaredLength;
    m_userDataLength = d.fileSize < 0 ? 0 : d.fileSize - d.declaredLength;
    m_userDataPresent = m_userDataLength != 0;
    m_isContainer = d.container;
    return m_isContainer && m_userDataLength > 0;
}

bool BookUserData::readUserData(NoteStore* notes, QStringList* bookmarks)
{
    notes->clear();
    bookmarks->clear();
    m_userDataBytes.clear();
    if (!m_detected)
        hasUserData();
    if (!m_isContainer || m_userDataLength < 8)
        return false;

    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(m_declaredLength))
        return false;
    const QByteArray head = file.read(UserDataRecord::HeaderSize);
    if (!head.startsWith(magicBytes()))
        return false;   // not ours: nothing is loaded, silently
    qint64 length = m_userDataLength;
    if (length > MaxTailRead && head.size() == UserDataRecord::HeaderSize)
        length = std::min<qint64>(length, UserDataRecord::HeaderSize + qint64(be32(head.constData() + 16)));
    if (length > MaxTailRead)
        return false;
    if (!file.seek(m_declaredLength))
        return false;
    m_userDataBytes = file.read(length);
    return UserDataRecord::decode(m_userDataBytes, notes, bookmarks) == UserDataRecord::Decoded::Complete;
}

bool BookUserData::writeUserData(const NoteStore& notes, const QStringList& bookmarks)
{
    m_bytesWritten = 0;
    const QByteArray record = UserDataRecord::encode(notes, bookmarks);

    const Detection now = detect();
    if (!now.container) {
        if (!record.isEmpty())
            qWarning("BookUserData::writeUserData: %s is not a book container; notes and bookmarks not saved",
                     qUtf8Printable(m_path));
        return record.isEmpty();
    }
    if (m_detected && (!m_isContainer || now.declaredLength != m_declaredLength)) {
        qWarning("BookUserData::writeUserData: %s changed since it was opened; notes and bookmarks not saved",
                 qUtf8Printable(m_path));
        return false;
    }
    const qint64 start = now.declaredLength;
    const qint64 end = now.fileSize;

    bool hasRecord = false;
    {
        FileDescriptor in(::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC));
        if (in.get() < 0)
            return false;
        hasRecord = readAt(in.get(), start, 8) == magicBytes();
        if (!hasRecord && record.isEmpty())
            return true;   // nothing to store, and the bytes behind the container are not ours
        if (hasRecord && end - start == record.size() && readAt(in.get(), start, end - start) == record)
            return true;   // already there, byte for byte
    }

    WritablePermissions permissions(m_path);
    FileDescriptor file(::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CLOEXEC));
    if (file.get() < 0) {
        qWarning("BookUserData::writeUserData: could not open %s for writing", qUtf8Printable(m_path));
        return false;
    }
    TailWriter writer(file.get(), start, this);

    if (record.isEmpty())
        return writer.resize(start) && writer.sync();

    // What the new record will cover, kept to put back if writing it fails.
    const QByteArray replaced = readAt(file.get(), start, std::min<qint64>(end - start, record.size()));

    if (hasRecord) {
        // A copy of the new record behind everything: if the next step is torn, it is found there.
        const qint64 copyAt = std::max<qint64>(end, start + record.size());
        if (!writer.writeAt(copyAt, record) || !writer.sync()) {
            writer.resize(end);
            writer.sync();
            return false;
        }
    }

    if (!writer.writeAt(start, record) || !writer.sync()) {
        // Put back what was there. If even that fails, the copy stays behind and reads.
        if (writer.writeAt(start, replaced) && writer.sync()) {
            writer.resize(end);
            writer.sync();
        }
        return false;
    }

    // The new record is in place; cutting the file behind it removes the copy or old bytes.
    return writer.resize(start + record.size()) && writer.sync();
}

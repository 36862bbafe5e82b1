#include "userdata.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>

using namespace LockedFile;

namespace {

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
    const qint64 wanted = UserDataRecord::bytesToRead(head, length);
    if (wanted == 0) {
        t.stored = Stored::Foreign;
        return t;
    }
    if (wanted < 0) {
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

BookUserData::Detection BookUserData::detect(int fd)
{
    Detection d;
    if (!ItsfFileStamp::ofDescriptor(fd, &d.stamp))
        return d;
    d.fileSize = qint64(d.stamp.size);
    const auto head = UserDataRecord::readContainerHead(readAt(fd, 0, UserDataRecord::ContainerHeadSize), d.fileSize);
    d.declaredLength = head.declaredLength;
    d.container = head.valid;
    return d;
}

bool BookUserData::hasUserData()
{
    m_errorString.clear();
    const Descriptor file(::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        m_errorString = reason("could not open the book", errno);
    m_found = file.get() < 0 ? Detection() : detect(file.get());
    m_detected = true;
    return isContainer() && userDataLength() > 0;
}

bool BookUserData::readUserData(NoteStore* notes, QStringList* bookmarks)
{
    notes->clear();
    bookmarks->clear();
    m_userDataBytes.clear();
    m_readPayload = UserDataRecord::encodePayload({}, {});
    m_stored = Stored::Nothing;
    m_errorString.clear();

    const Descriptor file(::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC));
    // A writer busy with the record is waited for; when it takes too long the record is read as
    // it is (a torn one reads from the copy the writer leaves behind it).
    if (file.get() < 0)
        fail(reason("could not open the book", errno));
    else
        lock(file.get(), LOCK_SH, m_lockTimeoutMs);
    m_found = file.get() < 0 ? Detection() : detect(file.get());
    m_detected = true;
    if (!isContainer() || userDataLength() <= 0)
        return false;

    StoredTail tail = readStored(file.get(), declaredLength(), userDataLength());
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
    m_faults.written = 0;
    m_errorString.clear();
    const QByteArray record = UserDataRecord::encode(notes, bookmarks);

    const Descriptor file(::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        if (record.isEmpty() && errno == ENOENT)
            return true;   // nothing to store, and no book left to store it in
        return fail(reason("could not open the book", errno));
    }
    if (!lock(file.get(), LOCK_EX, m_lockTimeoutMs)) {
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
    if (m_detected && !now.stamp.isSameFile(m_found.stamp))
        return fail(tr("the book file was replaced by another file since it was opened"));
    if (m_detected && (!m_found.container || now.declaredLength != m_found.declaredLength))
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
    if (!out.open(m_faults.fault == Fault::ReadOnly))
        return fail(out.errorString());
    TailWriter writer(out.get(), start, &m_faults);

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

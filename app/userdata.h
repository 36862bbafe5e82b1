#pragma once

#include "itsfarchive.h"
#include "lockedfile.h"
#include "userdatarecord.h"

#include <QCoreApplication>

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
    Q_DECLARE_TR_FUNCTIONS(BookUserData)

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
    void setLockTimeout(int milliseconds) { m_lockTimeoutMs = milliseconds; }

    qint64 declaredLength() const { return m_found.declaredLength; }
    qint64 userDataLength() const { return m_found.fileSize < 0 ? 0 : m_found.fileSize - m_found.declaredLength; }
    bool userDataPresent() const { return userDataLength() != 0; }
    bool isContainer() const { return m_found.container; }
    // The bytes behind the declared length as read by readUserData() (only when they begin
    // with the record's magic).
    const QByteArray& userDataBytes() const { return m_userDataBytes; }

    // Fault injection for tests. After `budget` more bytes have been written, FailWrite makes
    // the write that crosses the budget fail after writing its first bytes, as a full disk does
    // (the reason given is ENOSPC), while later writes work; Crash makes every later write,
    // resize and sync do nothing, as if the process had died there. ReadOnly makes opening the
    // book for writing fail as on a read-only file system (EROFS).
    using Fault = LockedFile::Fault;
    void setFault(Fault fault, qint64 budget = 0) { m_faults.fault = fault; m_faults.budget = budget; }
    // Bytes written by the last writeUserData().
    qint64 bytesWritten() const { return m_faults.written; }

private:
    struct Detection
    {
        qint64 fileSize = -1;
        qint64 declaredLength = 0;
        bool container = false;
        ItsfFileStamp stamp;   // which file this is: device and inode
    };
    static Detection detect(int fd);
    bool fail(const QString& reason);

    QString m_path;
    Detection m_found;          // by the last step that looked at the file
    bool m_detected = false;
    QByteArray m_userDataBytes;
    Stored m_stored = Stored::Nothing;
    QByteArray m_readPayload;  // the payload of what was loaded
    bool m_replaceUnreadable = false;
    QString m_errorString;
    int m_lockTimeoutMs = 2000;

    LockedFile::Faults m_faults;
};

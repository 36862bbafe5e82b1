#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>
#include <unistd.h>

// The primitives BookUserData changes a book with: reads and writes through descriptors (so a
// file renamed over the path meanwhile is never the one read or changed), a lock that keeps
// writers apart, and a writer that never goes below a floor. Failures carry the system's reason.
namespace LockedFile {

// "what: the system's reason", `what` translated.
QString reason(const char* what, int error);

// Reads up to `length` bytes at `offset`; a read the system refuses leaves its errno in *error.
QByteArray readAt(int fd, qint64 offset, qint64 length, int* error = nullptr);

// Takes a flock lock (LOCK_SH or LOCK_EX), trying again for up to timeoutMs while another
// descriptor holds a conflicting one. On failure errno says why (EWOULDBLOCK: still held).
bool lock(int fd, int operation, int timeoutMs);

// Owns a descriptor (negative: none) and closes it.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() { if (m_fd >= 0) ::close(m_fd); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// A read-write descriptor of the very file another descriptor holds, reopened through
// /proc/self/fd (or, without /proc, through the path and then checked to be the same inode).
// When the owner may not write the file, it gets owner read and write permission through the
// held descriptor (fchmod) for as long as this lives, and its own mode back afterwards.
class WritableDescriptor
{
public:
    WritableDescriptor(int held, const QString& path);
    ~WritableDescriptor();
    WritableDescriptor(const WritableDescriptor&) = delete;
    WritableDescriptor& operator=(const WritableDescriptor&) = delete;

    // False with errorString() when the file cannot be opened for writing.
    bool open(bool simulateReadOnly);
    int get() const { return m_fd; }
    QString errorString() const { return m_error; }

private:
    int reopen() const;
    bool failed(int error);

    int m_held;
    QByteArray m_path;
    int m_fd = -1;
    mode_t m_mode = 0;
    bool m_changed = false;
    QString m_error;
};

// Fault injection for tests: see BookUserData::setFault(). `written` counts every byte written.
enum class Fault { None, FailWrite, Crash, ReadOnly };
struct Faults
{
    Fault fault = Fault::None;
    qint64 budget = 0;
    qint64 written = 0;
};

// Every change to the file goes through here: positioned writes that refuse to go below
// `floor`, resizes, syncs, and the injected faults. The first failure is kept with the
// system's reason.
class TailWriter
{
public:
    TailWriter(int fd, qint64 floor, Faults* faults) : m_fd(fd), m_floor(floor), m_faults(faults) {}

    bool writeAt(qint64 offset, const QByteArray& data);
    bool resize(qint64 size);
    bool sync();
    QString errorString() const { return m_what ? reason(m_what, m_error) : QString(); }

private:
    bool failed(const char* what, int error);

    int m_fd;
    qint64 m_floor;
    Faults* m_faults;
    bool m_dead = false;
    const char* m_what = nullptr;
    int m_error = 0;
};

} // namespace LockedFile

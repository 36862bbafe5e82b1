#include "lockedfile.h"

#include "itsfarchive.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LockedFile {

QString reason(const char* what, int error)
{
    return QCoreApplication::translate("BookUserData", what) + QStringLiteral(": ")
        + QString::fromLocal8Bit(std::strerror(error));
}

QByteArray readAt(int fd, qint64 offset, qint64 length, int* error)
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

bool lock(int fd, int operation, int timeoutMs)
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

WritableDescriptor::WritableDescriptor(int held, const QString& path) : m_held(held), m_path(QFile::encodeName(path)) {}

WritableDescriptor::~WritableDescriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_changed && ::fchmod(m_held, m_mode) != 0)
        qWarning("BookUserData::writeUserData: could not restore the permissions of %s", m_path.constData());
}

bool WritableDescriptor::open(bool simulateReadOnly)
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
    ItsfFileStamp written, held;
    if (!ItsfFileStamp::ofDescriptor(m_fd, &written) || !ItsfFileStamp::ofDescriptor(m_held, &held)
        || !written.isSameFile(held)) {
        m_error = QCoreApplication::translate("BookUserData",
                                              "the book file was replaced by another file while it was being saved");
        return false;
    }
    return true;
}

int WritableDescriptor::reopen() const
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_held);
    const int fd = ::open(self.constData(), O_RDWR | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT || ::access("/proc/self/fd", F_OK) == 0)
        return fd;
    return ::open(m_path.constData(), O_RDWR | O_CLOEXEC);
}

bool WritableDescriptor::failed(int error)
{
    m_error = reason("could not open the book for writing", error);
    return false;
}

bool TailWriter::writeAt(qint64 offset, const QByteArray& data)
{
    if (offset < m_floor || m_dead)
        return failed("could not write to the book", EIO);
    qint64 wanted = data.size();
    bool fail = false;
    if (m_faults->fault != Fault::None && m_faults->fault != Fault::ReadOnly && wanted > m_faults->budget) {
        wanted = m_faults->budget;
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
    m_faults->written += done;
    if (m_faults->fault != Fault::None)
        m_faults->budget -= done;
    if (fail) {
        if (m_faults->fault == Fault::Crash)
            m_dead = true;
        else
            m_faults->fault = Fault::None;
        return failed("could not write to the book", ENOSPC);
    }
    return done == data.size() || failed("could not write to the book", error);
}

bool TailWriter::resize(qint64 size)
{
    if (size < m_floor || m_dead)
        return failed("could not change the size of the book", EIO);
    int rc;
    do {
        rc = ::ftruncate(m_fd, off_t(size));
    } while (rc != 0 && errno == EINTR);
    return rc == 0 || failed("could not change the size of the book", errno);
}

bool TailWriter::sync()
{
    if (m_dead)
        return failed("could not write to the book", EIO);
    return ::fsync(m_fd) == 0 || failed("could not write the book to the disk", errno);
}

bool TailWriter::failed(const char* what, int error)
{
    if (!m_what) {
        m_what = what;
        m_error = error;
    }
    return false;
}

} // namespace LockedFile

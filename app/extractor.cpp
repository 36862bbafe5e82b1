#include "extractor.h"

#include "lchmfile.h"
#include "lchmfileimpl.h"

#include <QFile>
#include <QHash>
#include <QStringList>

#include <cerrno>
#include <limits>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Folder handles kept open while extracting; past this many they are all closed and reopened
// on demand, so a book with thousands of folders does not run out of descriptors.
constexpr int MaxOpenFolders = 128;

int retryOnInterrupt(const std::function<int()>& call)
{
    int rc;
    do {
        rc = call();
    } while (rc < 0 && errno == EINTR);
    return rc;
}

// The folder tree below the chosen folder, walked one name at a time with *at() calls and
// O_NOFOLLOW, so a symbolic link inside the tree (or one put there while extracting) can never
// lead a folder or a file outside it.
class FolderTree
{
public:
    FolderTree(int rootFd, const QString& rootName) : m_root(rootFd), m_rootName(rootName) {}
    ~FolderTree()
    {
        closeAll();
        ::close(m_root);
    }
    FolderTree(const FolderTree&) = delete;
    FolderTree& operator=(const FolderTree&) = delete;

    int foldersCreated() const { return m_created; }

    // A handle on the folder made of the first `count` names, creating folders as needed;
    // -1 when one cannot be made or is not a real folder.
    int folder(const QList<QByteArray>& names, int count)
    {
        if (count == 0)
            return m_root;
        QByteArray key;
        for (int i = 0; i < count; ++i) {
            key += names[i];
            key += '/';
        }
        const auto cached = m_open.constFind(key);
        if (cached != m_open.constEnd())
            return cached.value();
        const int parent = folder(names, count - 1);
        if (parent < 0)
            return -1;
        if (m_open.size() >= MaxOpenFolders) {
            closeAll();
            return folder(names, count);
        }
        const QByteArray& name = names[count - 1];
        if (::mkdirat(parent, name.constData(), 0777) == 0)
            ++m_created;
        const int fd = retryOnInterrupt([&] {
            return ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        });
        if (fd < 0) {
            const QString shown = m_rootName + QLatin1Char('/') + QFile::decodeName(key.chopped(1));
            qWarning("Could not create subdir %s\n", shown.toLocal8Bit().constData());
        }
        m_open.insert(key, fd);   // a failure is remembered too: one warning per folder
        return fd;
    }

    // Creates the file `name` in the folder `dirFd` with these bytes. An existing file or link
    // of that name is removed first, so that nothing is written through a link.
    static bool writeFile(int dirFd, const QByteArray& name, const QByteArray& bytes)
    {
        const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
        int fd = retryOnInterrupt([&] { return ::openat(dirFd, name.constData(), flags, 0666); });
        if (fd < 0 && errno == EEXIST) {
            struct stat st;
            if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)
                || ::unlinkat(dirFd, name.constData(), 0) != 0)
                return false;
            fd = retryOnInterrupt([&] { return ::openat(dirFd, name.constData(), flags, 0666); });
        }
        if (fd < 0)
            return false;
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        const bool closed = ::close(fd) == 0;
        return closed && done == bytes.size();
    }

private:
    void closeAll()
    {
        for (int fd : std::as_const(m_open)) {
            if (fd >= 0)
                ::close(fd);
        }
        m_open.clear();
    }

    int m_root;
    QString m_rootName;
    QHash<QByteArray, int> m_open;   // "a/b/" -> handle, or -1 when it could not be made
    int m_created = 0;
};

// The object's bytes as the book access layer reads them. Objects are looked up by the bytes
// the container stores, so names outside ASCII resolve too. False when it cannot be read; an
// empty object reads as empty.
bool readObject(LCHMFileImpl* book, const QByteArray& path, QByteArray* out)
{
    out->clear();
    ItsfUnit unit;
    if (!book->container || !book->container->resolve(path, &unit))
        return false;
    if (unit.length == 0)
        return true;
    const quint64 size = book->container->readableLength(unit);
    if (size == 0 || size > quint64(std::numeric_limits<qsizetype>::max() / 2))
        return false;
    out->resize(qsizetype(size));
    const quint64 got = book->readObjectRange(unit, reinterpret_cast<unsigned char*>(out->data()), 0, size);
    out->truncate(qsizetype(got));
    return got > 0;
}

} // namespace

QList<QByteArray> BookExtractor::targetParts(const QByteArray& inBookPath, bool* isFolder)
{
    if (isFolder)
        *isFolder = false;
    // Names beginning with "::" are the container's own metadata.
    if (!inBookPath.startsWith('/'))
        return {};
    QByteArray path = inBookPath;
    path.replace('\\', QByteArray());
    if (path.contains('#') || path.contains('$') || path.contains('\0'))
        return {};
    QList<QByteArray> parts;
    for (const QByteArray& part : path.split('/')) {
        if (!part.isEmpty() && part != "." && part != "..")
            parts.append(part);
    }
    if (isFolder)
        *isFolder = path.endsWith('/');
    return parts;
}

ExtractionResult BookExtractor::extract(const QString& bookPath, const QString& targetDir, const Progress& progress)
{
    ExtractionResult result;
    LCHMFile book;
    if (!book.openBook(bookPath)) {
        result.status = ExtractionResult::BookNotOpened;
        return result;
    }
    const int rootFd = retryOnInterrupt([&] {
        return ::open(QFile::encodeName(targetDir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    });
    if (rootFd < 0) {
        book.closeBook();
        result.status = ExtractionResult::NoTarget;
        return result;
    }
    FolderTree tree(rootFd, targetDir);

    QStringList paths;
    book.listFiles(&paths);
    result.listed = int(paths.size());
    QByteArray bytes;
    for (int i = 0; i < result.listed; ++i) {
        if (progress && !progress(i, result.listed)) {
            result.status = ExtractionResult::Cancelled;
            break;
        }
        // listFiles gives the stored names as Latin-1, so this recovers the stored bytes.
        const QByteArray stored = paths.at(i).toLatin1();
        bool isFolder = false;
        const QList<QByteArray> parts = targetParts(stored, &isFolder);
        if (parts.isEmpty()) {
            ++result.skipped;
            continue;
        }
        if (isFolder) {
            if (tree.folder(parts, int(parts.size())) < 0)
                ++result.failed;
            else
                ++result.folderEntries;
            continue;
        }
        if (!readObject(book.impl(), stored, &bytes)) {
            ++result.failed;
            continue;
        }
        const int dirFd = tree.folder(parts, int(parts.size()) - 1);
        if (dirFd < 0 || !FolderTree::writeFile(dirFd, parts.last(), bytes)) {
            ++result.failed;
            continue;
        }
        ++result.written;
    }
    result.folders = tree.foldersCreated();
    book.closeBook();
    return result;
}

#include "extractor.h"

#include "lchmfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Folder handles kept open while extracting. The folders of the path in hand are held as a
// chain from the chosen folder down; past this many open handles the shallowest are closed
// (and reopened from the nearest open one when needed again), so any depth works with a
// fixed number of descriptors.
constexpr int MaxOpenFolders = 64;
// Names of objects that failed, kept for the reader; the rest are only counted.
constexpr int FailureNamesKept = 5;

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
        truncateChain(0);
        ::close(m_root);
    }
    FolderTree(const FolderTree&) = delete;
    FolderTree& operator=(const FolderTree&) = delete;

    int foldersCreated() const { return m_created; }

    // A handle on the folder made of the first `count` names, creating folders as needed;
    // -1 when one cannot be made or is not a real folder. The handle stays valid until the
    // next call.
    int folder(const QList<QByteArray>& names, int count)
    {
        // Keep the part of the chain this path shares with the one before.
        int common = 0;
        while (common < int(m_chain.size()) && common < count && m_chain[common].name == names[common])
            ++common;
        truncateChain(common);
        if (std::any_of(m_chain.cbegin(), m_chain.cbegin() + common, [](const Level& l) { return l.fd == Failed; }))
            return -1;   // already warned about
        // Folders whose handles were closed to save descriptors are reopened from the
        // nearest open one above them; new folders are made below.
        int from = common;
        while (from > 0 && m_chain[from - 1].fd == Closed)
            --from;
        int parent = from == 0 ? m_root : m_chain[from - 1].fd;
        for (int i = from; i < count; ++i) {
            const bool isNew = i >= common;
            if (isNew && !m_failed.isEmpty() && m_failed.contains(key(names, i + 1)))
                return -1;
            const QByteArray& name = names[i];
            if (isNew && ::mkdirat(parent, name.constData(), 0777) == 0)
                ++m_created;
            const int fd = retryOnInterrupt([&] {
                return ::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            });
            if (isNew)
                m_chain.push_back({name, fd < 0 ? Failed : fd});
            else
                m_chain[i].fd = fd < 0 ? Failed : fd;
            if (fd < 0) {
                // Remembered, so that each folder is warned about once.
                const QByteArray failed = key(names, i + 1);
                m_failed.insert(failed);
                const QString shown = m_rootName + QLatin1Char('/') + QFile::decodeName(failed.chopped(1));
                qWarning("Could not create subdir %s\n", shown.toLocal8Bit().constData());
                return -1;
            }
            ++m_open;
            closeShallowest(i);
            parent = fd;
        }
        return count == 0 ? m_root : m_chain[count - 1].fd;
    }

    // Creates the file `name` in the folder `dirFd` and fills it through `fill`, which gets the
    // file's handle. An existing file or link of that name is removed first, so that nothing
    // is written through a link; a file that could not be filled is removed again.
    static bool writeFile(int dirFd, const QByteArray& name, const std::function<bool(int fd)>& fill)
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
        const bool filled = fill(fd);
        const bool closed = ::close(fd) == 0;
        if (filled && closed)
            return true;
        ::unlinkat(dirFd, name.constData(), 0);
        return false;
    }

    static bool writeAll(int fd, const QByteArray& bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

private:
    enum : int { Closed = -1, Failed = -2 };
    struct Level
    {
        QByteArray name;
        int fd;   // a handle, Closed, or Failed
    };

    // "a/b/" for the first `count` (at least one) names.
    static QByteArray key(const QList<QByteArray>& names, int count)
    {
        return names.mid(0, count).join('/') + '/';
    }

    void truncateChain(int size)
    {
        while (int(m_chain.size()) > size) {
            if (m_chain.back().fd >= 0) {
                ::close(m_chain.back().fd);
                --m_open;
            }
            m_chain.pop_back();
        }
    }

    // Keeps at most MaxOpenFolders handles: closes the shallowest open ones above `keep`.
    void closeShallowest(int keep)
    {
        for (int i = 0; m_open > MaxOpenFolders && i < keep; ++i) {
            if (m_chain[i].fd >= 0) {
                ::close(m_chain[i].fd);
                m_chain[i].fd = Closed;
                --m_open;
            }
        }
    }

    int m_root;
    QString m_rootName;
    std::vector<Level> m_chain;   // the folders of the last path, from the top down
    int m_open = 0;               // open handles in the chain
    QSet<QByteArray> m_failed;    // "a/b/" of folders that could not be made
    int m_created = 0;
};

void noteFailure(ExtractionResult* result, const QByteArray& stored)
{
    ++result->failed;
    if (result->failedNames.size() < FailureNamesKept)
        result->failedNames.append(QFile::decodeName(stored));
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
    QList<QByteArray> parts = path.split('/');
    parts.removeIf([](const QByteArray& part) { return part.isEmpty() || part == "." || part == ".."; });
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
        result.errorString = book.errorString();
        return result;
    }
    const int rootFd = retryOnInterrupt([&] {
        return ::open(QFile::encodeName(targetDir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    });
    if (rootFd < 0) {
        result.errorString = QCoreApplication::translate("BookExtractor", "The folder %1 cannot be opened: %2.")
                                 .arg(targetDir, QString::fromLocal8Bit(std::strerror(errno)));
        result.status = ExtractionResult::NoTarget;
        return result;
    }
    FolderTree tree(rootFd, targetDir);

    QStringList paths;
    book.listFiles(&paths);
    result.listed = int(paths.size());
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
                noteFailure(&result, stored);
            else
                ++result.folderEntries;
            continue;
        }
        // Streamed in pieces: memory stays small whatever the object's size, and an object
        // that does not read whole leaves no file behind.
        const int dirFd = tree.folder(parts, int(parts.size()) - 1);
        const bool written = dirFd >= 0 && FolderTree::writeFile(dirFd, parts.last(), [&](int fd) {
            return book.readFileChunks(paths.at(i),
                                       [fd](const QByteArray& chunk) { return FolderTree::writeAll(fd, chunk); });
        });
        if (written)
            ++result.written;
        else
            noteFailure(&result, stored);
    }
    result.folders = tree.foldersCreated();
    return result;
}

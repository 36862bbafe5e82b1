#include "itsfarchive.h"

#include "bytereader.h"
#include "lzxdecoder.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr quint64 FrameSize = LzxDecoder::FrameSize;
constexpr quint64 MaxDirectorySize = 256ull << 20;   // a sane bound for one read of the directory
constexpr quint64 MaxResetEntries = 1ull << 24;       // 512 GiB of content in 32 KiB frames
constexpr quint64 FirstReadStep = 64ull << 10;        // reads grow their buffer from here...
constexpr quint64 MaxReadStep = 4ull << 20;           // ...doubling up to this step
constexpr qsizetype MaxBufferSize = std::numeric_limits<qsizetype>::max() / 2;

const char ContentName[] = "::DataSpace/Storage/MSCompressed/Content";
const char ControlDataName[] = "::DataSpace/Storage/MSCompressed/ControlData";
const char ResetTableName[] =
    "::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable";

QString tr(const char* text)
{
    return QCoreApplication::translate("ItsfArchive", text);
}

} // namespace

using ByteReader::le32;
using ByteReader::le64;
using ByteReader::readEncInt;

ItsfArchive::ItsfArchive() = default;
ItsfArchive::~ItsfArchive() = default;

bool ItsfArchive::fail(const QString& reason)
{
    m_error = reason;
    return false;
}

bool ItsfFrameCache::find(quint64 index, QByteArray* frame) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_frames.constFind(index);
    if (it == m_frames.constEnd())
        return false;
    *frame = *it;
    return true;
}

void ItsfFrameCache::insert(quint64 index, const QByteArray& frame)
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_frames.find(index);
    if (it != m_frames.end()) {
        *it = frame;
        return;
    }
    if (m_frames.size() >= Capacity)
        m_frames.remove(m_order.takeFirst());
    m_order.push_back(index);
    m_frames.insert(index, frame);
}

quint64 ItsfDirectory::approximateBytes() const
{
    quint64 bytes = sizeof(*this) + quint64(resetTable.size()) * sizeof(quint64)
        + quint64(ItsfFrameCache::Capacity) * FrameSize;
    for (const ItsfUnit& unit : units)
        bytes += sizeof(ItsfUnit) + quint64(unit.path.size()) + 32;   // the name and its header
    return bytes + quint64(exact.size()) * 48;                        // a hash node per name
}

ItsfFileStamp ItsfFileStamp::of(const struct stat& st)
{
    ItsfFileStamp stamp;
    stamp.device = quint64(st.st_dev);
    stamp.inode = quint64(st.st_ino);
    stamp.size = quint64(st.st_size);
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.changedNs = qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return stamp;
}

bool ItsfFileStamp::ofDescriptor(int fd, ItsfFileStamp* stamp)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return false;
    *stamp = of(st);
    return true;
}

bool ItsfArchive::open(const QString& path)
{
    return openFile(path) && readDirectory();
}

bool ItsfArchive::openFile(const QString& path)
{
    m_error.clear();
    // The reason a file cannot be opened lies in errno, which QFile does not keep apart.
    // O_NONBLOCK: a named pipe in the book's place must not wait for a writer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR)
            return fail(tr("The file does not exist."));
        if (error == EACCES || error == EPERM)
            return fail(tr("You have no permission to read the file."));
        return fail(tr("The file cannot be read: %1.").arg(QString::fromLocal8Bit(std::strerror(error))));
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const bool folder = S_ISDIR(st.st_mode);
        ::close(fd);
        return fail(folder ? tr("This is a folder, not a book.") : tr("This is not a regular file."));
    }
    if (!m_file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail(tr("The file cannot be read."));
    }
    m_stamp = ItsfFileStamp::of(st);
    return true;
}

bool ItsfArchive::unchangedSinceOpen() const
{
    ItsfFileStamp now;
    return m_file.isOpen() && ItsfFileStamp::ofDescriptor(m_file.handle(), &now) && now == m_stamp;
}

bool ItsfArchive::readDirectory()
{
    if (!m_file.isOpen())
        return fail(tr("The file cannot be read."));
    auto dir = std::make_shared<ItsfDirectory>();
    dir->fileSize = m_stamp.size;
    m_dir = dir;   // reads below go through it while it is filled; nobody else sees it yet
    if (!loadHeader(dir.get())) {
        m_dir.reset();
        return false;
    }
    // The index is built in one pass here, not on demand, so that the published directory
    // never changes again.
    dir->exact.reserve(dir->units.size());
    for (int i = int(dir->units.size()) - 1; i >= 0; --i)   // the first of two equal names wins
        dir->exact.insert(dir->units[i].path, i);
    dir->compressedReady = setUpCompressedSection(dir.get());
    return true;
}

void ItsfArchive::useDirectory(std::shared_ptr<const ItsfDirectory> directory)
{
    m_dir = std::move(directory);
    m_lzx.reset();
    m_nextFrame = -1;
}

const QVector<ItsfUnit>& ItsfArchive::units() const
{
    static const QVector<ItsfUnit> none;
    return m_dir ? m_dir->units : none;
}

quint64 ItsfArchive::readRaw(quint64 offset, char* buffer, quint64 length)
{
    const quint64 fileSize = this->fileSize();
    if (offset >= fileSize || length == 0)
        return 0;
    length = std::min(length, fileSize - offset);
    if (!m_file.seek(qint64(offset)))
        return 0;
    const qint64 got = m_file.read(buffer, qint64(length));
    return got > 0 ? quint64(got) : 0;
}

bool ItsfArchive::loadHeader(ItsfDirectory* dir)
{
    const quint64 fileSize = dir->fileSize;
    char header[0x60] = {};
    const quint64 headerRead = readRaw(0, header, sizeof header);
    if (headerRead < 4 || std::memcmp(header, "ITSF", 4) != 0)
        return fail(tr("The file is not a Compiled HTML Help (CHM) book."));
    if (headerRead < 0x58)
        return fail(tr("The book is damaged: the file ends inside its header."));
    const QByteArrayView head(header, qsizetype(headerRead));
    const quint32 version = le32(head, 4);
    const quint64 directoryOffset = le64(head, 0x48);
    const quint64 directoryLength = le64(head, 0x50);
    dir->contentOffset = version >= 3 && headerRead >= 0x60 ? le64(head, 0x58) : directoryOffset + directoryLength;
    if (directoryLength < 0x54 || directoryLength > MaxDirectorySize)
        return fail(tr("The book is damaged: its directory is unreadable."));
    if (directoryOffset >= fileSize || directoryLength > fileSize - directoryOffset)
        return fail(tr("The book is damaged: the file is cut short before the end of its directory."));

    // The directory lies within the file (checked above), so this buffer follows real bytes.
    QByteArray bytes(qsizetype(directoryLength), Qt::Uninitialized);
    if (readRaw(directoryOffset, bytes.data(), directoryLength) != directoryLength)
        return fail(tr("The file cannot be read."));
    if (!parseDirectory(bytes, dir))
        return fail(tr("The book is damaged: its directory is unreadable."));
    return true;
}

bool ItsfArchive::parseDirectory(const QByteArray& bytes, ItsfDirectory* dir)
{
    const char* d = bytes.constData();
    if (std::memcmp(d, "ITSP", 4) != 0)
        return false;
    const quint32 headerLength = le32(bytes, 8);
    const quint32 chunkSize = le32(bytes, 0x10);
    if (headerLength < 0x54 || headerLength >= quint32(bytes.size()) || chunkSize < 0x20 || chunkSize > (1u << 20))
        return false;

    // Every listing chunk is read, wherever the header says the list starts: some compilers
    // name a later chunk as the first one, and following that name would lose objects.
    const quint64 chunks = (quint64(bytes.size()) - headerLength) / chunkSize;
    for (quint64 i = 0; i < chunks; ++i) {
        const char* chunk = d + headerLength + i * chunkSize;
        if (std::memcmp(chunk, "PMGL", 4) == 0)
            parseListingChunk(chunk, chunkSize, dir);
    }
    return true;
}

bool ItsfArchive::parseListingChunk(const char* chunk, quint32 chunkSize, ItsfDirectory* dir)
{
    const quint32 freeSpace = le32(QByteArrayView(chunk, chunkSize), 4);
    const char* p = chunk + 20;
    const char* end = chunk + chunkSize - std::min(freeSpace, chunkSize - 20);
    while (p < end) {
        quint64 nameLength = 0;
        if (!readEncInt(p, end, &nameLength) || nameLength == 0 || nameLength > quint64(end - p))
            return false;
        ItsfUnit unit;
        unit.path = QByteArray(p, qsizetype(nameLength));
        p += nameLength;
        if (!readEncInt(p, end, &unit.space) || !readEncInt(p, end, &unit.start) || !readEncInt(p, end, &unit.length))
            return false;
        dir->units.push_back(std::move(unit));
    }
    return true;
}

bool ItsfArchive::resolve(const QByteArray& path, ItsfUnit* unit) const
{
    if (!m_dir)
        return false;
    const QVector<ItsfUnit>& units = m_dir->units;
    auto found = units.cbegin() + m_dir->exact.value(path, int(units.size()));
    if (found == units.cend()) {
        // A name that differs only in ASCII case; rare enough for a plain walk.
        found = std::find_if(units.cbegin(), units.cend(),
                             [&path](const ItsfUnit& u) { return u.path.compare(path, Qt::CaseInsensitive) == 0; });
    }
    if (found != units.cend() && unit)
        *unit = *found;
    return found != units.cend();
}

quint64 ItsfArchive::retrieve(const ItsfUnit& unit, char* buffer, quint64 offset, quint64 length)
{
    if (!buffer || offset >= unit.length || length == 0)
        return 0;
    length = std::min(length, unit.length - offset);
    // The place in the file (stored objects) or in the decoded section (compressed ones).
    quint64 at = 0;
    if (!m_dir || unit.space > 1 || qAddOverflow(unit.space == 0 ? m_dir->contentOffset : 0, unit.start, &at)
        || qAddOverflow(at, offset, &at))
        return 0;
    return unit.space == 0 ? readRaw(at, buffer, length) : readCompressed(at, buffer, length);
}

quint64 ItsfArchive::read(const ItsfUnit& unit, quint64 offset, quint64 length, QByteArray* out)
{
    if (!out || offset >= unit.length || length == 0)
        return 0;
    length = std::min(length, unit.length - offset);
    // The buffer grows by what has arrived (doubling from a small first step), never by the
    // length asked for: a claimed gigabyte that decodes to nothing costs one small step. A
    // stored object that the file is known to hold is read in one step of its own size.
    const qsizetype base = out->size();
    quint64 done = 0;
    quint64 step = FirstReadStep;
    quint64 end = 0;
    if (unit.space == 0 && m_dir && !qAddOverflow(m_dir->contentOffset, unit.start, &end)
        && !qAddOverflow(end, offset, &end) && !qAddOverflow(end, length, &end) && end <= m_dir->fileSize)
        step = std::max(step, length);   // the bytes are in the file
    while (done < length) {
        const quint64 want = std::min(step, length - done);
        if (want > quint64(MaxBufferSize - out->size()))
            break;
        out->resize(out->size() + qsizetype(want));
        const quint64 got = retrieve(unit, out->data() + base + done, offset + done, want);
        done += got;
        if (got < want)
            break;
        step = std::min(step * 2, MaxReadStep);
    }
    out->resize(base + qsizetype(done));
    if (done < length)
        m_error = tr("The book is damaged: %1 cannot be read whole.").arg(QString::fromLatin1(unit.path));
    return done;
}

bool ItsfArchive::setUpCompressedSection(ItsfDirectory* dir)
{
    ItsfUnit control, table;
    if (!resolve(ContentName, &dir->content) || !resolve(ControlDataName, &control) || !resolve(ResetTableName, &table))
        return false;
    if (dir->content.space != 0 || control.space != 0 || table.space != 0)
        return false;

    char c[0x1C] = {};
    if (retrieve(control, c, 0, sizeof c) < 0x18 || std::memcmp(c + 4, "LZXC", 4) != 0)
        return false;
    const QByteArrayView controlData(c, sizeof c);
    const quint32 version = le32(controlData, 8);
    quint64 resetInterval = le32(controlData, 12);
    quint64 windowSize = le32(controlData, 16);
    if (version == 2) {
        resetInterval *= FrameSize;
        windowSize *= FrameSize;
    }
    int bits = 0;
    while (bits < 22 && (quint64(1) << bits) < windowSize)
        ++bits;
    if ((quint64(1) << bits) != windowSize || bits < 15 || bits > 21)
        return false;
    dir->windowBits = bits;
    dir->framesPerReset = quint32(std::max<quint64>(1, std::min<quint64>(resetInterval / FrameSize, 1u << 20)));

    char t[0x28] = {};
    if (retrieve(table, t, 0, sizeof t) != sizeof t)
        return false;
    const QByteArrayView head(t, sizeof t);
    const quint32 entries = le32(head, 4);
    const quint32 entrySize = le32(head, 8);
    const quint32 tableOffset = le32(head, 12);
    dir->uncompressedLength = le64(head, 16);
    dir->compressedLength = le64(head, 24);
    const quint64 blockSize = le64(head, 32);
    if (entrySize != 8 || blockSize != FrameSize || entries == 0 || entries > MaxResetEntries)
        return false;
    dir->compressedLength = std::min(dir->compressedLength, dir->content.length);
    // Content the table cannot reach is not readable.
    dir->uncompressedLength = std::min(dir->uncompressedLength, quint64(entries) * FrameSize);

    // The table's entries must be in the file before anything is sized by their count.
    QByteArray raw;
    if (read(table, tableOffset, quint64(entries) * 8, &raw) != quint64(entries) * 8)
        return false;
    dir->resetTable.resize(entries);
    for (quint32 i = 0; i < entries; ++i)
        dir->resetTable[i] = le64(raw, quint64(i) * 8);
    return true;
}

bool ItsfArchive::frame(quint64 index, QByteArray* out)
{
    const ItsfDirectory& dir = *m_dir;
    if (dir.frames->find(index, out))
        return true;
    if (index >= quint64(dir.resetTable.size()) || index * FrameSize >= dir.uncompressedLength)
        return false;
    if (!m_lzx)
        m_lzx = std::make_unique<LzxDecoder>(dir.windowBits);
    if (!m_lzx->isValid())
        return false;

    const quint64 resetStart = index - index % dir.framesPerReset;
    quint64 from = resetStart;
    if (m_nextFrame >= 0 && quint64(m_nextFrame) > resetStart && quint64(m_nextFrame) <= index)
        from = quint64(m_nextFrame);  // continue where the decoder stopped
    else
        m_lzx->reset();

    QByteArray input;
    for (quint64 f = from; f <= index; ++f) {
        const quint64 begin = dir.resetTable[qsizetype(f)];
        const quint64 end = f + 1 < quint64(dir.resetTable.size()) ? dir.resetTable[qsizetype(f + 1)] : dir.compressedLength;
        const quint64 outSize = std::min(FrameSize, dir.uncompressedLength - f * FrameSize);
        m_nextFrame = -1;   // until this frame has decoded
        if (end < begin || end > dir.compressedLength || end - begin > 4 * FrameSize)
            return false;
        input.resize(qsizetype(end - begin));
        QByteArray decoded(qsizetype(outSize), Qt::Uninitialized);
        if (retrieve(dir.content, input.data(), begin, end - begin) != end - begin
            || !m_lzx->decodeFrame(reinterpret_cast<const uint8_t*>(input.constData()), size_t(input.size()),
                                   reinterpret_cast<uint8_t*>(decoded.data()), size_t(outSize)))
            return false;
        m_nextFrame = qint64(f + 1);
        dir.frames->insert(f, decoded);
        if (f == index)
            *out = decoded;
    }
    return true;
}

quint64 ItsfArchive::readCompressed(quint64 offset, char* buffer, quint64 length)
{
    if (!m_dir || !m_dir->compressedReady || offset >= m_dir->uncompressedLength)
        return 0;
    length = std::min(length, m_dir->uncompressedLength - offset);
    quint64 done = 0;
    while (done < length) {
        const quint64 at = offset + done;
        QByteArray f;
        if (!frame(at / FrameSize, &f))
            break;
        const quint64 inFrame = at % FrameSize;
        if (inFrame >= quint64(f.size()))
            break;
        const quint64 n = std::min(length - done, quint64(f.size()) - inFrame);
        std::memcpy(buffer + done, f.constData() + inFrame, size_t(n));
        done += n;
    }
    return done;
}

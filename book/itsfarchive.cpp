#include "itsfarchive.h"

#include "lzxdecoder.h"

#include <QCoreApplication>
#include <QtEndian>

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
constexpr int CachedFrames = 64;                      // 2 MiB of decoded frames
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

quint32 le32(const char* p) { return qFromLittleEndian<quint32>(p); }
quint64 le64(const char* p) { return qFromLittleEndian<quint64>(p); }

// The directory's variable-length numbers: 7 bits a byte, most significant group first.
bool readEncInt(const char*& p, const char* end, quint64* value)
{
    quint64 v = 0;
    for (int i = 0; i < 10 && p < end; ++i) {
        const auto b = static_cast<unsigned char>(*p++);
        v = (v << 7) | (b & 0x7F);
        if (!(b & 0x80)) {
            *value = v;
            return true;
        }
    }
    return false;
}

} // namespace

ItsfArchive::ItsfArchive() = default;
ItsfArchive::~ItsfArchive() = default;

bool ItsfArchive::fail(const QString& reason)
{
    m_error = reason;
    return false;
}

bool ItsfArchive::open(const QString& path)
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
    m_fileSize = quint64(m_file.size());
    return loadHeader();
}

quint64 ItsfArchive::readRaw(quint64 offset, char* buffer, quint64 length)
{
    if (offset >= m_fileSize || length == 0)
        return 0;
    length = std::min(length, m_fileSize - offset);
    if (!m_file.seek(qint64(offset)))
        return 0;
    const qint64 got = m_file.read(buffer, qint64(length));
    return got > 0 ? quint64(got) : 0;
}

bool ItsfArchive::loadHeader()
{
    char header[0x60] = {};
    const quint64 headerRead = readRaw(0, header, sizeof header);
    if (headerRead < 4 || std::memcmp(header, "ITSF", 4) != 0)
        return fail(tr("The file is not a Compiled HTML Help (CHM) book."));
    if (headerRead < 0x58)
        return fail(tr("The book is damaged: the file ends inside its header."));
    const quint32 version = le32(header + 4);
    const quint64 section0Offset = le64(header + 0x38);
    const quint64 directoryOffset = le64(header + 0x48);
    const quint64 directoryLength = le64(header + 0x50);
    if (version >= 3 && headerRead >= 0x60)
        m_contentOffset = le64(header + 0x58);
    else
        m_contentOffset = directoryOffset + directoryLength;
    if (directoryLength < 0x54 || directoryLength > MaxDirectorySize)
        return fail(tr("The book is damaged: its directory is unreadable."));
    if (directoryOffset >= m_fileSize || directoryLength > m_fileSize - directoryOffset)
        return fail(tr("The book is damaged: the file is cut short before the end of its directory."));

    char section0[0x10] = {};
    if (readRaw(section0Offset, section0, sizeof section0) == sizeof section0)
        m_declaredLength = le64(section0 + 8);

    // The directory lies within the file (checked above), so this buffer follows real bytes.
    QByteArray dir(qsizetype(directoryLength), Qt::Uninitialized);
    if (readRaw(directoryOffset, dir.data(), directoryLength) != directoryLength)
        return fail(tr("The file cannot be read."));
    if (!readDirectory(dir))
        return fail(tr("The book is damaged: its directory is unreadable."));
    return true;
}

bool ItsfArchive::readDirectory(const QByteArray& dir)
{
    const char* d = dir.constData();
    if (std::memcmp(d, "ITSP", 4) != 0)
        return false;
    const quint32 headerLength = le32(d + 8);
    const quint32 chunkSize = le32(d + 0x10);
    if (headerLength < 0x54 || headerLength >= quint32(dir.size()) || chunkSize < 0x20 || chunkSize > (1u << 20))
        return false;

    // Every listing chunk is read, wherever the header says the list starts: some compilers
    // name a later chunk as the first one, and following that name would lose objects.
    const quint64 chunks = (quint64(dir.size()) - headerLength) / chunkSize;
    for (quint64 i = 0; i < chunks; ++i) {
        const char* chunk = d + headerLength + i * chunkSize;
        if (std::memcmp(chunk, "PMGL", 4) == 0)
            parseListingChunk(chunk, chunkSize);
    }
    return true;
}

bool ItsfArchive::parseListingChunk(const char* chunk, quint32 chunkSize)
{
    const quint32 freeSpace = le32(chunk + 4);
    const char* p = chunk + 20;
    const char* end = chunk + chunkSize - std::min(freeSpace, chunkSize - 20);
    while (p < end) {
        quint64 nameLength = 0, space = 0, start = 0, length = 0;
        if (!readEncInt(p, end, &nameLength) || nameLength == 0 || nameLength > quint64(end - p))
            return false;
        ItsfUnit unit;
        unit.path = QByteArray(p, qsizetype(nameLength));
        p += nameLength;
        if (!readEncInt(p, end, &space) || !readEncInt(p, end, &start) || !readEncInt(p, end, &length))
            return false;
        unit.space = space;
        unit.start = start;
        unit.length = length;
        m_units.push_back(std::move(unit));
    }
    return true;
}

void ItsfArchive::buildIndex() const
{
    m_exact.reserve(m_units.size());
    // Walk backwards so that the first of two objects with the same name wins.
    for (int i = int(m_units.size()) - 1; i >= 0; --i)
        m_exact.insert(m_units[i].path, i);
    m_indexed = true;
}

bool ItsfArchive::resolve(const QByteArray& path, ItsfUnit* unit) const
{
    if (!m_indexed)
        buildIndex();
    int index = m_exact.value(path, -1);
    if (index < 0) {
        // A name that differs only in ASCII case; rare enough for a plain walk.
        for (int i = 0; i < m_units.size(); ++i) {
            if (m_units[i].path.compare(path, Qt::CaseInsensitive) == 0) {
                index = i;
                break;
            }
        }
        if (index < 0)
            return false;
    }
    if (unit)
        *unit = m_units[index];
    return true;
}

quint64 ItsfArchive::retrieve(const ItsfUnit& unit, char* buffer, quint64 offset, quint64 length)
{
    if (!buffer || offset >= unit.length || length == 0)
        return 0;
    length = std::min(length, unit.length - offset);
    if (unit.space == 0) {
        const quint64 base = m_contentOffset + unit.start;
        if (base < m_contentOffset)
            return 0;  // overflow
        const quint64 at = base + offset;
        if (at < base)
            return 0;
        return readRaw(at, buffer, length);
    }
    if (unit.space == 1) {
        const quint64 at = unit.start + offset;
        if (at < unit.start)
            return 0;
        return readCompressed(at, buffer, length);
    }
    return 0;
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
    if (unit.space == 0) {
        const quint64 size = m_fileSize;
        const bool inFile = m_contentOffset <= size && unit.start <= size - m_contentOffset
            && offset <= size - m_contentOffset - unit.start
            && length <= size - m_contentOffset - unit.start - offset;
        if (inFile)
            step = std::max(step, length);
    }
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

bool ItsfArchive::setUpCompressedSection()
{
    ItsfUnit control, table;
    if (!resolve(ContentName, &m_content) || !resolve(ControlDataName, &control) || !resolve(ResetTableName, &table))
        return false;
    if (m_content.space != 0 || control.space != 0 || table.space != 0)
        return false;

    char c[0x1C] = {};
    if (retrieve(control, c, 0, sizeof c) < 0x18 || std::memcmp(c + 4, "LZXC", 4) != 0)
        return false;
    const quint32 version = le32(c + 8);
    quint64 resetInterval = le32(c + 12);
    quint64 windowSize = le32(c + 16);
    if (version == 2) {
        resetInterval *= FrameSize;
        windowSize *= FrameSize;
    }
    int bits = 0;
    while (bits < 22 && (quint64(1) << bits) < windowSize)
        ++bits;
    if ((quint64(1) << bits) != windowSize || bits < 15 || bits > 21)
        return false;
    m_windowBits = bits;
    m_framesPerReset = quint32(std::max<quint64>(1, std::min<quint64>(resetInterval / FrameSize, 1u << 20)));

    char t[0x28] = {};
    if (retrieve(table, t, 0, sizeof t) != sizeof t)
        return false;
    const quint32 entries = le32(t + 4);
    const quint32 entrySize = le32(t + 8);
    const quint32 tableOffset = le32(t + 12);
    m_uncompressedLength = le64(t + 16);
    m_compressedLength = le64(t + 24);
    const quint64 blockSize = le64(t + 32);
    if (entrySize != 8 || blockSize != FrameSize || entries == 0 || entries > MaxResetEntries)
        return false;
    if (m_compressedLength > m_content.length)
        m_compressedLength = m_content.length;
    const quint64 framesNeeded = (m_uncompressedLength + FrameSize - 1) / FrameSize;
    if (framesNeeded > entries)
        m_uncompressedLength = quint64(entries) * FrameSize;  // content the table cannot reach is not readable

    // The table's entries must be in the file before anything is sized by their count.
    QByteArray raw;
    if (read(table, tableOffset, quint64(entries) * 8, &raw) != quint64(entries) * 8)
        return false;
    m_resetTable.resize(entries);
    for (quint32 i = 0; i < entries; ++i)
        m_resetTable[i] = le64(raw.constData() + quint64(i) * 8);

    m_lzx = std::make_unique<LzxDecoder>(m_windowBits);
    return m_lzx->isValid();
}

const QByteArray* ItsfArchive::frame(quint64 index)
{
    auto cached = m_frameCache.constFind(index);
    if (cached != m_frameCache.constEnd())
        return &*cached;
    if (index >= quint64(m_resetTable.size()) || index * FrameSize >= m_uncompressedLength)
        return nullptr;

    const quint64 resetStart = index - index % m_framesPerReset;
    quint64 from = resetStart;
    if (m_nextFrame >= 0 && quint64(m_nextFrame) > resetStart && quint64(m_nextFrame) <= index)
        from = quint64(m_nextFrame);  // continue where the decoder stopped
    else
        m_lzx->reset();

    QByteArray input;
    const QByteArray* result = nullptr;
    for (quint64 f = from; f <= index; ++f) {
        const quint64 begin = m_resetTable[qsizetype(f)];
        const quint64 end = f + 1 < quint64(m_resetTable.size()) ? m_resetTable[qsizetype(f + 1)] : m_compressedLength;
        const quint64 outSize = std::min(FrameSize, m_uncompressedLength - f * FrameSize);
        if (end < begin || end > m_compressedLength || end - begin > 4 * FrameSize) {
            m_nextFrame = -1;
            return nullptr;
        }
        input.resize(qsizetype(end - begin));
        if (retrieve(m_content, input.data(), begin, end - begin) != end - begin) {
            m_nextFrame = -1;
            return nullptr;
        }
        QByteArray out(qsizetype(outSize), Qt::Uninitialized);
        if (!m_lzx->decodeFrame(reinterpret_cast<const uint8_t*>(input.constData()), size_t(input.size()),
                                reinterpret_cast<uint8_t*>(out.data()), size_t(outSize))) {
            m_nextFrame = -1;
            return nullptr;
        }
        m_nextFrame = qint64(f + 1);
        if (m_frameCache.size() >= CachedFrames) {
            m_frameCache.remove(m_cacheOrder.front());
            m_cacheOrder.pop_front();
        }
        m_cacheOrder.push_back(f);
        auto it = m_frameCache.insert(f, std::move(out));
        if (f == index)
            result = &*it;
    }
    return result;
}

quint64 ItsfArchive::readCompressed(quint64 offset, char* buffer, quint64 length)
{
    if (!m_compressedTried) {
        m_compressedTried = true;
        m_compressedReady = setUpCompressedSection();
    }
    if (!m_compressedReady || offset >= m_uncompressedLength)
        return 0;
    length = std::min(length, m_uncompressedLength - offset);
    quint64 done = 0;
    while (done < length) {
        const quint64 at = offset + done;
        const QByteArray* f = frame(at / FrameSize);
        if (!f)
            break;
        const quint64 inFrame = at % FrameSize;
        if (inFrame >= quint64(f->size()))
            break;
        const quint64 n = std::min(length - done, quint64(f->size()) - inFrame);
        std::memcpy(buffer + done, f->constData() + inFrame, size_t(n));
        done += n;
    }
    return done;
}

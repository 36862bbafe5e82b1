#include "chmwriter.h"

#include <QSaveFile>

#include <algorithm>
#include <utility>

namespace {

constexpr quint32 kItsfHeaderLength = 0x60;
constexpr quint32 kHeaderSection0Length = 0x18;
constexpr quint32 kDirectoryOffset = kItsfHeaderLength + kHeaderSection0Length;  // 0x78
constexpr quint32 kItspHeaderLength = 0x54;
constexpr quint32 kPmglHeaderLength = 0x14;
constexpr quint32 kLcidEnglish = 0x409;

// A GUID in its on-disk form: the first three fields little-endian, the last eight bytes as written.
void appendGuid(QByteArray& out, quint32 d1, quint16 d2, quint16 d3, const char (&d4)[9])
{
    appendLe32(out, d1);
    appendLe16(out, d2);
    appendLe16(out, d3);
    out.append(d4, 8);
}

// The directory's variable-length integers: big-endian groups of 7 bits, the high bit set on
// every byte but the last.
QByteArray encInt(quint64 v)
{
    char bytes[10];
    int n = 0;
    do {
        bytes[n++] = char(v & 0x7F);
        v >>= 7;
    } while (v != 0);
    QByteArray out;
    for (int i = n - 1; i >= 0; --i)
        out.append(char(bytes[i] | (i > 0 ? 0x80 : 0)));
    return out;
}

// Directory order: byte order after folding ASCII capitals to small letters, then plain byte
// order so that names differing only in case still sort in a fixed way.
bool directoryLess(const QByteArray& a, const QByteArray& b)
{
    const int n = int(std::min(a.size(), b.size()));
    for (int i = 0; i < n; ++i) {
        const uchar ca = uchar(a[i]), cb = uchar(b[i]);
        const uchar la = (ca >= 'A' && ca <= 'Z') ? uchar(ca + 32) : ca;
        const uchar lb = (cb >= 'A' && cb <= 'Z') ? uchar(cb + 32) : cb;
        if (la != lb)
            return la < lb;
    }
    if (a.size() != b.size())
        return a.size() < b.size();
    return a < b;
}

} // namespace

void appendLe16(QByteArray& out, quint16 v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

void appendLe32(QByteArray& out, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

void appendLe64(QByteArray& out, quint64 v)
{
    appendLe32(out, quint32(v));
    appendLe32(out, quint32(v >> 32));
}

QVector<ChmWriterObject> claimingCompressedSection(quint32 frames, const QByteArray& firstFrame)
{
    constexpr quint32 FrameSize = 32768;
    QByteArray content;
    if (firstFrame.isEmpty()) {
        content = QByteArray::fromHex("0123456789abcdef").repeated(8);
    } else {
        // No E8 translation (1 bit), block type 3 (uncompressed, 3 bits), the block's length
        // (24 bits) and padding to the next 16-bit word, as two little-endian words; then
        // R0, R1, R2 and the bytes.
        const quint32 bits = (3u << 28) | (FrameSize << 4);
        appendLe16(content, quint16(bits >> 16));
        appendLe16(content, quint16(bits));
        for (int r = 0; r < 3; ++r)
            appendLe32(content, 1);
        content += firstFrame.left(FrameSize);
        content += QByteArray(qsizetype(FrameSize) - qMin<qsizetype>(firstFrame.size(), FrameSize), '\0');
    }

    QByteArray control;
    appendLe32(control, 6);
    control += "LZXC";
    appendLe32(control, 2);  // version
    appendLe32(control, 2);  // reset interval, in 32 KiB units
    appendLe32(control, 2);  // window, in 32 KiB units
    appendLe32(control, 1);
    appendLe32(control, 0);
    QByteArray table;
    appendLe32(table, 2);
    appendLe32(table, frames);
    appendLe32(table, 8);
    appendLe32(table, 0x28);
    appendLe64(table, quint64(frames) * FrameSize);  // uncompressed length
    appendLe64(table, quint64(content.size()));   // compressed length
    appendLe64(table, FrameSize);                 // frame size
    // The first frame starts at 0; every other one at the end of the data, so holds nothing.
    appendLe64(table, 0);
    for (quint32 i = 1; i < frames; ++i)
        appendLe64(table, quint64(content.size()));
    return {{"::DataSpace/Storage/MSCompressed/ControlData", control},
            {"::DataSpace/Storage/MSCompressed/Transform/{7FC28940-9D31-11D0-9B27-00A0C91E9C7C}/InstanceData/ResetTable",
             table},
            {"::DataSpace/Storage/MSCompressed/Content", content}};
}

QByteArray buildChmContainer(QVector<ChmWriterObject> objects, const ChmWriterOptions& options)
{
    const quint32 chunkSize = options.chunkSize;
    if (chunkSize <= kPmglHeaderLength)
        return {};
    const quint32 chunkCapacity = chunkSize - kPmglHeaderLength;

    std::stable_sort(objects.begin(), objects.end(),
                     [](const ChmWriterObject& a, const ChmWriterObject& b) {
                         return directoryLess(a.path, b.path);
                     });

    // Content section 0: the objects' bytes one after the other, in directory order.
    QByteArray content;
    QVector<QByteArray> entries;
    entries.reserve(objects.size());
    for (const ChmWriterObject& object : objects) {
        QByteArray entry = encInt(quint64(object.path.size()));
        entry += object.path;
        if (object.compressed) {
            entry += encInt(1);
            entry += encInt(object.compressedStart);
            entry += encInt(object.compressedLength);
        } else {
            entry += encInt(0);  // section 0: uncompressed
            entry += encInt(quint64(content.size()));
            entry += encInt(quint64(object.data.size()));
        }
        if (quint32(entry.size()) > chunkCapacity)
            return {};  // a name too long for one directory chunk
        entries.append(entry);
        if (!object.compressed)
            content += object.data;
    }

    // Listing chunks, filled in order; a chunk is closed when the next entry does not fit.
    QVector<QByteArray> chunkEntries(1);
    for (const QByteArray& entry : std::as_const(entries)) {
        if (quint32(chunkEntries.last().size() + entry.size()) > chunkCapacity)
            chunkEntries.append(QByteArray());
        chunkEntries.last() += entry;
    }
    const quint32 chunkCount = quint32(chunkEntries.size());

    QByteArray directory;
    directory += "ITSP";
    appendLe32(directory, 1);                  // version
    appendLe32(directory, kItspHeaderLength);  // header length
    appendLe32(directory, 0x0A);
    appendLe32(directory, chunkSize);
    appendLe32(directory, 2);                  // quick reference density
    appendLe32(directory, 1);                  // index depth: listing chunks only
    appendLe32(directory, 0xFFFFFFFFu);        // no index root chunk
    appendLe32(directory, quint32(0 + options.firstListingChunkDelta));
    appendLe32(directory, chunkCount - 1);     // last listing chunk
    appendLe32(directory, 0xFFFFFFFFu);
    appendLe32(directory, chunkCount);
    appendLe32(directory, kLcidEnglish);
    appendGuid(directory, 0x5D02926A, 0x212E, 0x11D0, "\x9D\xF9\x00\xA0\xC9\x22\xE6\xEC");
    appendLe32(directory, kItspHeaderLength);
    appendLe32(directory, 0xFFFFFFFFu);
    appendLe32(directory, 0xFFFFFFFFu);
    appendLe32(directory, 0xFFFFFFFFu);

    for (quint32 i = 0; i < chunkCount; ++i) {
        const QByteArray& body = chunkEntries[int(i)];
        QByteArray chunk;
        chunk += "PMGL";
        appendLe32(chunk, chunkCapacity - quint32(body.size()));  // free space at the end
        appendLe32(chunk, 0);
        appendLe32(chunk, i == 0 ? 0xFFFFFFFFu : i - 1);
        appendLe32(chunk, i + 1 == chunkCount ? 0xFFFFFFFFu : i + 1);
        chunk += body;
        chunk.append(int(chunkSize) - chunk.size(), '\0');
        directory += chunk;
    }

    const quint64 contentOffset = kDirectoryOffset + quint64(directory.size());
    const quint64 fileLength = contentOffset + quint64(content.size());
    const quint64 declaredLength =
        options.declaredLengthOverride >= 0 ? quint64(options.declaredLengthOverride) : fileLength;

    QByteArray out;
    out.reserve(int(fileLength) + options.trailing.size());
    out += "ITSF";
    appendLe32(out, 3);                   // version
    appendLe32(out, kItsfHeaderLength);   // header length
    appendLe32(out, 1);
    appendLe32(out, 0);                   // time stamp
    appendLe32(out, kLcidEnglish);
    appendGuid(out, 0x7C01FD10, 0x7BAA, 0x11D0, "\x9E\x0C\x00\xA0\xC9\x22\xE6\xEC");
    appendGuid(out, 0x7C01FD11, 0x7BAA, 0x11D0, "\x9E\x0C\x00\xA0\xC9\x22\xE6\xEC");
    appendLe64(out, kItsfHeaderLength);   // header section 0
    appendLe64(out, kHeaderSection0Length);
    appendLe64(out, kDirectoryOffset);    // header section 1: the directory
    appendLe64(out, quint64(directory.size()));
    appendLe64(out, contentOffset);

    // Header section 0, which holds the declared file length at file offset 0x68.
    appendLe32(out, 0x1FE);
    appendLe32(out, 0);
    appendLe64(out, declaredLength);
    appendLe32(out, 0);
    appendLe32(out, 0);

    out += directory;
    out += content;
    out += options.trailing;
    return out;
}

bool writeChmContainer(const QString& fileName, const QVector<ChmWriterObject>& objects,
                       const ChmWriterOptions& options)
{
    const QByteArray bytes = buildChmContainer(objects, options);
    if (bytes.isEmpty())
        return false;
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size())
        return false;
    return file.commit();
}

#include "userdatarecord.h"

#include "bytereader.h"

#include <QDataStream>
#include <QHash>
#include <QIODevice>
#include <QScopeGuard>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace UserDataRecord {
namespace {

// The largest compressed block a record of MaxPayloadSize bytes can have (its 4-byte size and
// zlib's worst case, rounded up), and the largest trailing region read whole: a record and the
// copy a replacing writer leaves behind it. A longer region is read only as far as its first
// record.
constexpr qint64 MaxBlockSize = 4 + MaxPayloadSize + MaxPayloadSize / 1000 + 64;
constexpr qint64 MaxTailRead = 2 * (HeaderSize + MaxBlockSize);

// How many copies of a record behind a damaged one are tried before giving up.
constexpr int MaxCopiesTried = 8;

// What one page and one string cost in memory beyond their bytes, as decodePayload counts it.
constexpr qint64 PageCost = 128;
constexpr qint64 StringCost = 64;

const QByteArray& magicBytes()
{
    static const QByteArray bytes = [] {
        QByteArray b(8, Qt::Uninitialized);
        qToBigEndian<qint64>(Magic, b.data());
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
    explicit PayloadReader(const QByteArray& data) : m_rest(data) {}

    qsizetype left() const { return m_rest.size(); }

    bool u32(quint32* value)
    {
        if (m_rest.size() < 4)
            return false;
        *value = be32(m_rest.data());
        m_rest = m_rest.sliced(4);
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
        if ((bytes & 1u) != 0 || qsizetype(bytes) > m_rest.size())
            return false;
        QString s(qsizetype(bytes / 2), Qt::Uninitialized);
        qFromBigEndian<char16_t>(m_rest.data(), s.size(), s.data());
        m_rest = m_rest.sliced(qsizetype(bytes));
        *value = std::move(s);
        return true;
    }

private:
    QByteArrayView m_rest;
};

// Inflates a block in qCompress form (a 4-byte big-endian size, then a zlib stream) into *out.
// The buffer grows with what the stream really produces, never to the size claimed in advance;
// at most *budget bytes are produced, and *budget shrinks by what was. False when the block
// claims more than the budget, produces more or less than it claims, or is not a whole stream.
bool inflateBlock(const char* block, qsizetype size, qint64* budget, QByteArray* out)
{
    if (size < 4)
        return false;
    const qint64 claimed = be32(block);
    if (claimed == 0 || claimed > *budget)
        return false;

    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return false;
    const auto end = qScopeGuard([&zs] { inflateEnd(&zs); });
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block + 4));
    zs.avail_in = uInt(size - 4);

    // One byte more than claimed shows a stream that goes on beyond its claim.
    const qsizetype limit = qsizetype(claimed) + 1;
    QByteArray buffer(std::min<qsizetype>(limit, 64 * 1024), Qt::Uninitialized);
    qsizetype produced = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (produced == buffer.size()) {
            if (buffer.size() >= limit)
                break;
            buffer.resize(std::min<qsizetype>(limit, buffer.size() * 2));
        }
        zs.next_out = reinterpret_cast<Bytef*>(buffer.data() + produced);
        zs.avail_out = uInt(buffer.size() - produced);
        rc = inflate(&zs, Z_NO_FLUSH);
        produced = buffer.size() - qsizetype(zs.avail_out);
        if (rc == Z_STREAM_END)
            break;
        if (rc == Z_BUF_ERROR && zs.avail_out == 0)
            continue;
        if (rc != Z_OK || (zs.avail_in == 0 && zs.avail_out != 0))
            break;   // damaged, or the stream is cut short
    }
    *budget -= produced;
    if (rc != Z_STREAM_END || produced != claimed)
        return false;
    buffer.truncate(produced);
    *out = std::move(buffer);
    return true;
}

// Reads the record that starts at `pos` of `tail`, inflating within *budget.
Decoded decodeAt(const QByteArray& tail, qsizetype pos, NoteStore* notes,
                                 QStringList* bookmarks, qint64* budget)
{
    const qsizetype available = tail.size() - pos;
    if (available < 8 || std::memcmp(tail.constData() + pos, magicBytes().constData(), 8) != 0)
        return Decoded::NotARecord;
    if (available < HeaderSize)
        return Decoded::Damaged;
    // The stored stream version and the reserved field are not compared with anything: the
    // payload is always read as version 8.
    const quint32 blockSize = be32(tail.constData() + pos + 16);
    if (blockSize < 4 || qint64(blockSize) > MaxBlockSize
        || qint64(blockSize) > qint64(available - HeaderSize))
        return Decoded::Damaged;
    QByteArray payload;
    if (!inflateBlock(tail.constData() + pos + HeaderSize, qsizetype(blockSize), budget, &payload))
        return Decoded::Damaged;
    return decodePayload(payload, notes, bookmarks);
}

} // namespace

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
    qint64 cost = 0;
    const auto afford = [&cost](qint64 more) {
        cost += more;
        return cost <= MaxDecodedCost;
    };

    QHash<QString, qsizetype> pageIndex;
    for (qsizetype i = 0; i < notes->size(); ++i)
        pageIndex.insert(notes->at(i).path, i);

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
        auto found = pageIndex.constFind(path);
        if (found == pageIndex.constEnd()) {
            if (!afford(PageCost + 2 * path.size()))
                return Decoded::Damaged;
            found = pageIndex.insert(path, notes->size());
            notes->append(PageNotes{path, {}});
        }
        if (!afford(qint64(markCount) * qint64(sizeof(NoteMark))))
            return Decoded::Damaged;
        QVector<NoteMark>& marks = (*notes)[found.value()].marks;
        marks.reserve(marks.size() + qsizetype(markCount));   // the bytes are there: checked above
        for (quint32 m = 0; m < markCount; ++m) {
            quint32 start = 0, length = 0;
            in.u32(&start);
            in.u32(&length);
            const NoteMark mark{qint32(start), qint32(length)};
            if (mark.start >= 0 && mark.length >= 0)
                marks.append(mark);
        }
    }

    quint32 stringCount = 0;
    if (!in.u32(&stringCount))
        return Decoded::Damaged;
    QStringList strings;
    bool sound = true;
    for (quint32 i = 0; i < stringCount; ++i) {
        QString s;
        if (!in.string(&s) || !afford(StringCost + 2 * s.size())) {
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
    // One budget for every block inflated here, so that records nested in records cost no more
    // than one.
    qint64 budget = MaxPayloadSize;
    const Decoded first = decodeAt(tail, 0, notes, bookmarks, &budget);
    if (first != Decoded::Damaged)
        return first;

    // A writer that died while replacing a record leaves a complete copy of the new record at the
    // very end of the file. Only copies that end exactly there are considered.
    int tried = 0;
    for (qsizetype pos = tail.indexOf(magicBytes(), 1); pos > 0 && tried < MaxCopiesTried && budget > 0;
         pos = tail.indexOf(magicBytes(), pos + 1)) {
        if (tail.size() - pos < HeaderSize)
            break;
        if (quint64(pos) + HeaderSize + be32(tail.constData() + pos + 16) != quint64(tail.size()))
            continue;
        ++tried;
        NoteStore copyNotes;
        QStringList copyBookmarks;
        if (decodeAt(tail, pos, &copyNotes, &copyBookmarks, &budget) == Decoded::Complete) {
            *notes = std::move(copyNotes);
            *bookmarks = std::move(copyBookmarks);
            return Decoded::Complete;
        }
    }
    return Decoded::Damaged;
}

qint64 bytesToRead(const QByteArray& head, qint64 available)
{
    if (!head.startsWith(magicBytes()))
        return 0;
    qint64 wanted = available;
    if (wanted > MaxTailRead && head.size() == HeaderSize)
        wanted = std::min<qint64>(wanted, HeaderSize + qint64(be32(head.constData() + 16)));
    return wanted > MaxTailRead ? -1 : wanted;
}

ContainerHead readContainerHead(const QByteArray& head, qint64 fileSize)
{
    // The declared length's low half at offset 104, its high half behind it.
    ContainerHead h;
    if (head.size() < 108)
        return h;
    h.declaredLength = qint64(qint32(ByteReader::le32(head, 104)));
    h.valid = head.size() >= ContainerHeadSize && head.startsWith("ITSF") && ByteReader::le32(head, 108) == 0
        && h.declaredLength >= ContainerHeadSize && h.declaredLength <= fileSize;
    return h;
}

} // namespace UserDataRecord

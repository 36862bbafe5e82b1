#include "hostilerecords.h"

#include "userdata.h"

#include <QtEndian>

#include <zlib.h>

namespace HostileRecords {
namespace {

constexpr qint64 Piece = qint64(1) << 20;

QByteArray be32(quint32 v)
{
    QByteArray b(4, Qt::Uninitialized);
    qToBigEndian<quint32>(v, b.data());
    return b;
}

// Deflates `in` with the given flush and returns what deflate wrote.
QByteArray deflateStep(z_stream* zs, const QByteArray& in, int flush)
{
    QByteArray out;
    zs->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.constData()));
    zs->avail_in = uInt(in.size());
    char chunk[65536];
    do {
        zs->next_out = reinterpret_cast<Bytef*>(chunk);
        zs->avail_out = sizeof chunk;
        deflate(zs, flush);
        out.append(chunk, qsizetype(sizeof chunk - zs->avail_out));
    } while (zs->avail_out == 0);
    return out;
}

} // namespace

QByteArray zeroBlock(const QByteArray& prefix, qint64 zeros, const QByteArray& suffix, qint64 claimed)
{
    z_stream zs{};
    deflateInit(&zs, 1);
    // After a full flush deflate starts afresh, so every flushed piece of zeros is the same bytes
    // and the stream may repeat one of them.
    QByteArray stream = deflateStep(&zs, prefix, Z_FULL_FLUSH);
    const QByteArray zeroPiece(Piece, '\0');
    const QByteArray piece = deflateStep(&zs, zeroPiece, Z_FULL_FLUSH);
    uLong adler = adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(prefix.constData()), uInt(prefix.size()));
    const uLong pieceAdler = adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(zeroPiece.constData()), uInt(Piece));
    if (zeros >= Piece) {
        stream.reserve(stream.size() + piece.size() * (zeros / Piece) + 1024);
        for (qint64 done = 0; done + Piece <= zeros; done += Piece) {
            stream += piece;
            adler = adler32_combine(adler, pieceAdler, Piece);
        }
    }
    const QByteArray rest(zeros % Piece, '\0');
    // The piece deflated above is not in the stream unless repeated: a fresh stream state for the
    // rest is the same as after any full flush.
    stream += deflateStep(&zs, rest, Z_FULL_FLUSH);
    adler = adler32(adler, reinterpret_cast<const Bytef*>(rest.constData()), uInt(rest.size()));
    stream += deflateStep(&zs, suffix, Z_FINISH);
    adler = adler32(adler, reinterpret_cast<const Bytef*>(suffix.constData()), uInt(suffix.size()));
    deflateEnd(&zs);
    qToBigEndian<quint32>(quint32(adler), stream.data() + stream.size() - 4);

    const qint64 size = prefix.size() + zeros + suffix.size();
    return be32(quint32(claimed < 0 ? size : claimed)) + stream;
}

QByteArray record(const QByteArray& block)
{
    return QByteArray::fromHex("00000000012DFBE1") + be32(8) + be32(0) + be32(quint32(block.size())) + block;
}

QByteArray nested(const QByteArray& block, int copies)
{
    QByteArray tail;
    for (int i = 0; i < copies; ++i)
        tail = record(block + tail);
    return tail;
}

QByteArray marksBlock(qint64 marks, qint64 claimed)
{
    const QByteArray path = QByteArray::fromHex("0000000c002f0061002e00680074006d");   // "/a.htm"
    return zeroBlock(be32(1) + path + be32(quint32(marks)), marks * 8, be32(0), claimed);
}

QByteArray manyPages(int pages)
{
    NoteStore notes;
    QStringList bookmarks;
    notes.reserve(pages);
    for (int i = 0; i < pages; ++i) {
        const QString path = QStringLiteral("/chapter%1/page%2.htm").arg(i / 100).arg(i);
        notes.append(PageNotes{path, {NoteMark{i, 5}}});
        bookmarks << QStringLiteral("Page %1").arg(i) << path;
    }
    return UserDataRecord::encode(notes, bookmarks);
}

} // namespace HostileRecords

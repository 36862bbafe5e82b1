#pragma once

#include <QByteArray>

// Hand-made notes records of the hostile kind: blocks that inflate to gigabytes, records nested in
// records, payloads with millions of entries. They are built in milliseconds and a few megabytes
// whatever they expand to, so tests and benchmarks can afford them.
namespace HostileRecords {

// A block in qCompress form (4-byte big-endian size, then a zlib stream) of `prefix`, then
// `zeros` zero bytes, then `suffix`; the size field says `claimed`, or the true size when
// `claimed` is negative (which must then fit in 32 bits). The stream is whole and its checksum
// right; its zeros are one flushed piece of compressed zeros repeated.
QByteArray zeroBlock(const QByteArray& prefix, qint64 zeros, const QByteArray& suffix, qint64 claimed = -1);

// The 20-byte record header and the block behind it.
QByteArray record(const QByteArray& block);

// `copies` records nested one in another, as a writer's copies lie behind a record: each one's
// block is `block` followed by the next record, so every block ends where the whole does.
QByteArray nested(const QByteArray& block, int copies);

// A payload holding one page with `marks` marks of (0, 0), and no bookmarks, as a block.
QByteArray marksBlock(qint64 marks, qint64 claimed = -1);

// A whole record of `pages` pages, each with one mark, and as many bookmarks.
QByteArray manyPages(int pages);

} // namespace HostileRecords

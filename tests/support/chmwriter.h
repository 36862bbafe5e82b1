#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// A minimal ITSF container writer for tests: every object is stored uncompressed in
// section 0, so tests can shape metadata files byte by byte.
struct ChmWriterObject
{
    QByteArray path;  // e.g. "/#SYSTEM", "/index.htm"
    QByteArray data;
    // An entry of the compressed section instead: only its start and length are written to
    // the directory (the section's objects are given as section-0 objects by the test).
    bool compressed = false;
    quint64 compressedStart = 0;
    quint64 compressedLength = 0;
};

struct ChmWriterOptions
{
    quint32 chunkSize = 4096;        // directory chunk size; small values force several chunks
    int firstListingChunkDelta = 0;  // added to the first listing chunk named in the header
    qint64 declaredLengthOverride = -1;  // >= 0: written as the declared file length
    QByteArray trailing;             // bytes appended behind the container
};

// Objects are listed in directory order (case-folded byte order) whatever order they come in.
// The result is empty when chunkSize leaves no room for entries or one entry does not fit a chunk.
QByteArray buildChmContainer(QVector<ChmWriterObject> objects, const ChmWriterOptions& options = {});
bool writeChmContainer(const QString& fileName, const QVector<ChmWriterObject>& objects,
                       const ChmWriterOptions& options = {});

// Little-endian helpers for shaping metadata files.
void appendLe16(QByteArray& out, quint16 v);
void appendLe32(QByteArray& out, quint32 v);
void appendLe64(QByteArray& out, quint64 v);

// The objects of an LZX-compressed section whose reset table claims `frames` frames of 32 KiB
// while only the first frame, if any, decodes: a damaged book's way of claiming far more
// content than it holds. With `firstFrame` (at most 32 KiB) the first frame is stored as an
// uncompressed LZX block of those bytes padded with zeros; without it the section holds 64
// bytes that decode to nothing. Objects listed in the section (ChmWriterObject::compressed)
// may claim up to `frames` times 32 KiB. The table itself is 8 bytes a frame.
QVector<ChmWriterObject> claimingCompressedSection(quint32 frames, const QByteArray& firstFrame = {});

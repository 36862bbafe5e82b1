#pragma once

// Bounded readers of the numbers that book files and the reader's own caches store:
//
//   le16 / le32 / le64 (data, at)   a little-endian unsigned number at a byte offset
//   cStringAt (data, at)            the NUL-terminated string at a byte offset
//   ByteCursor                      walks a span front to back, reading numbers and runs of bytes
//   readEncInt                      the container directory's variable-length number: 7 bits
//                                   a byte, most significant group first, high bit = more follows
//   readVarint32 / appendVarint32   the full-text indexes' variable-length number: 7 bits a
//                                   byte, least significant group first, high bit = more follows
//   appendLe<T>                     the writing side of le32 / le64
//
// A span is a QByteArrayView: a QByteArray, or a pointer to char or uchar data with its size.
//
// What holds: no read touches a byte outside the span it is given. A read that would leave it
// reads nothing and fails: le16/le32/le64 give 0 and set *ok to false (they never set it to
// true, so one flag can gather several reads); the cursor fails this and every later read;
// the variable-length readers return false. A variable-length number that does not fit its
// type, or is longer than that type ever needs, is rejected, never cut to its low bits: a
// damaged or hostile file gives "no number", not a different one.

#include <QByteArray>
#include <QByteArrayView>
#include <QtEndian>

namespace ByteReader {

template <typename T>
T littleEndianAt(QByteArrayView data, quint64 at, bool* ok)
{
    if (at > quint64(data.size()) || quint64(data.size()) - at < sizeof(T)) {
        if (ok)
            *ok = false;
        return 0;
    }
    return qFromLittleEndian<T>(data.data() + at);
}

inline quint16 le16(QByteArrayView data, quint64 at, bool* ok = nullptr) { return littleEndianAt<quint16>(data, at, ok); }
inline quint32 le32(QByteArrayView data, quint64 at, bool* ok = nullptr) { return littleEndianAt<quint32>(data, at, ok); }
inline quint64 le64(QByteArrayView data, quint64 at, bool* ok = nullptr) { return littleEndianAt<quint64>(data, at, ok); }

template <typename T>
void appendLe(QByteArray* out, T v)
{
    char b[sizeof(T)];
    qToLittleEndian(v, b);
    out->append(b, sizeof(T));
}

// The string at `at` up to its NUL, or up to the end of `data` when it has none; empty when
// `at` lies beyond the data.
inline QByteArrayView cStringAt(QByteArrayView data, quint64 at)
{
    if (at >= quint64(data.size()))
        return {};
    const QByteArrayView rest = data.sliced(qsizetype(at));
    const qsizetype nul = rest.indexOf('\0');
    return nul < 0 ? rest : rest.first(nul);
}

// Reads the number at `p` and moves `p` behind it. False, with `p` somewhere inside the
// number, when the bytes end before the number does, or it needs more than 64 bits (or more
// than the 10 bytes that 64 bits take).
inline bool readEncInt(const char*& p, const char* end, quint64* value)
{
    quint64 v = 0;
    for (int i = 0; i < 10 && p < end; ++i) {
        const auto b = static_cast<unsigned char>(*p++);
        if (v >> 57)
            return false;   // shifting in 7 more bits would lose the top ones
        v = (v << 7) | (b & 0x7F);
        if (!(b & 0x80)) {
            *value = v;
            return true;
        }
    }
    return false;
}

// Reads the number at `p` and moves `p` behind it. False when the bytes end before the number
// does, or it needs more than 32 bits (or more than the 5 bytes that 32 bits take).
inline bool readVarint32(const uchar*& p, const uchar* end, quint32* value)
{
    quint64 x = 0;
    for (int shift = 0; shift < 35; shift += 7) {
        if (p == end)
            return false;
        const uchar b = *p++;
        x |= quint64(b & 0x7F) << shift;
        if (!(b & 0x80)) {
            if (x > 0xFFFFFFFFull)
                return false;
            *value = quint32(x);
            return true;
        }
    }
    return false;
}

inline void appendVarint32(QByteArray* out, quint32 v)
{
    while (v >= 0x80) {
        out->append(char(v | 0x80));
        v >>= 7;
    }
    out->append(char(v));
}

// Reads a span front to back. Once a read runs past the end, it and every later read fail:
// numbers read 0, bytes() gives nullptr, and ok() stays false.
class ByteCursor
{
public:
    explicit ByteCursor(QByteArrayView data) : m_data(data) {}

    bool ok() const { return m_ok; }
    qsizetype left() const { return m_ok ? m_data.size() - m_at : 0; }

    quint16 u16() { return number<quint16>(); }
    quint32 u32() { return number<quint32>(); }
    quint64 u64() { return number<quint64>(); }
    // The next `n` bytes, or nullptr when fewer are left.
    const char* bytes(qsizetype n) { return take(n) ? m_data.data() + m_at - n : nullptr; }

private:
    template <typename T>
    T number()
    {
        const char* p = bytes(qsizetype(sizeof(T)));
        return p ? qFromLittleEndian<T>(p) : T(0);
    }
    bool take(qsizetype n)
    {
        if (!m_ok || n < 0 || n > m_data.size() - m_at) {
            m_ok = false;
            return false;
        }
        m_at += n;
        return true;
    }

    QByteArrayView m_data;
    qsizetype m_at = 0;
    bool m_ok = true;
};

} // namespace ByteReader

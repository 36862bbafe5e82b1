#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>
#include <QVector>

class QTextCodec;

// An encoder for a book's full-text index (/$FIftiMain), written from the index layout: a
// 50-byte header, location lists of scale/root integers, leaves of front-coded words and
// index nodes above them. Tests shape indexes with it, well-formed or damaged.

// Bits of a location list, most significant first.
class BitWriter
{
public:
    void put(bool one)
    {
        if (m_bit == 7)
            m_bytes.append('\0');
        if (one)
            m_bytes[m_bytes.size() - 1] = char(uchar(m_bytes.back()) | (1 << m_bit));
        m_bit = m_bit == 0 ? 7 : m_bit - 1;
    }
    void putBits(quint64 value, int width)
    {
        for (int i = width - 1; i >= 0; --i)
            put((value >> i) & 1);
    }
    // Scale 2: values below 2^root are "0" + root bits; larger ones are p ones, a zero and
    // root + p - 1 bits of the value less 2^(root + p - 1).
    void putScaleRoot(quint64 value, int root)
    {
        if (root < 64 && value < (quint64(1) << root)) {
            put(false);
            putBits(value, root);
            return;
        }
        int p = 1;
        while (root + p < 64 && value >= (quint64(1) << (root + p)))
            ++p;
        for (int i = 0; i < p; ++i)
            put(true);
        put(false);
        const int width = root + p - 1;
        putBits(value - (quint64(1) << width), width);
    }
    void align() { m_bit = 7; }
    QByteArray bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    int m_bit = 7;
};

struct Posting
{
    int topic;
    QVector<quint64> locations;   // positions in the topic, ascending
};

struct IndexShape
{
    QMap<QByteArray, QVector<Posting>> words;   // sorted as unsigned bytes, as the index is
    QMap<QByteArray, QVector<Posting>> titleWords;   // entries with the title flag set
    bool titleEntriesFirst = true;   // chmcmd writes a word's title entry before its body entry
    quint32 nodeSize = 4096;
    int leafCapacity = 1 << 30;    // entries per leaf
    int indexCapacity = 1 << 30;   // entries per index node
    quint8 docRoot = 2, codeRoot = 2, locRoot = 2;
    QHash<QByteArray, quint32> countOverride, sizeOverride, offsetOverride;
};

struct BuiltIndex
{
    QByteArray data;
    quint32 root = 0;
    int depth = 0;
    QVector<QVector<quint32>> levels;       // node offsets, root level first, leaves last
};

BuiltIndex buildIndex(const IndexShape& shape);

// Shaping helpers for damaged indexes.
void appendVarInt(QByteArray& out, quint32 v);
void putLe16(QByteArray& data, int at, quint16 v);
void putLe32(QByteArray& data, int at, quint32 v);

// Copies the compiled book `from` into `to` (every object whose name begins with "/", stored
// plainly) with a full-text index of our own in place of the compiler's: each letter of a
// topic's page (title and body, tags left out) that is not ASCII is a word of its own, keyed
// by its bytes in `codec`, at its position among those letters. That is how the indexes of
// Chinese, Japanese and Korean books keep their text, and chmcmd writes no such words.
// Topics come from the book's /#TOPICS, /#URLTBL and /#URLSTR. False when the book cannot
// be read or `to` cannot be written.
bool rebuildWithCharacterIndex(const QString& from, const QString& to, QTextCodec* codec);

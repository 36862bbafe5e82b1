#pragma once

// The text index's cache file, and the walk over a word's postings that both a loaded file
// and a built index answer queries with. The file is a header, then the pages, a word table
// sorted by key, the keys and every word's postings. It loads as it is, in one read:
// postings are read when a query asks.
//   "PWTXTIDX", version (4), book size (8), modification time (8), listing hash (20),
//   sizes of the pages (8), the word count (8), sizes of the keys (8) and of the
//   postings (8), truncated flag (4), hash of everything after the header (8)
//   pages: page count (4), per page path and title (length (4) + UTF-8)
//   word table: per word the end of its key in the keys and of its postings in the
//     postings (4 each); keys ascending, byte by byte, and distinct
//   postings, per page that holds the word: the page less the previous page less one, the
//     count less one, then the positions, each less the previous one less one (the first
//     page and position as they are); each number a ByteReader::readVarint32 number
// All fixed-size numbers little-endian.

#include "bytereader.h"
#include "textindex.h"

#include <algorithm>
#include <cstring>
#include <vector>

constexpr qsizetype kEntrySize = 8;   // one word in the word table

// Keys compare byte by byte as unsigned, a prefix before the longer key.
inline int compareKeys(const char* a, qsizetype aSize, const char* b, qsizetype bSize)
{
    const int c = std::memcmp(a, b, size_t(std::min(aSize, bSize)));
    return c != 0 ? c : (aSize < bSize ? -1 : aSize > bSize ? 1 : 0);
}

// Walks one word's postings page by page, in a built index or a loaded file. A loaded file's
// postings are checked as they are read: pages ascending and known, counts that the bytes
// left can hold, positions within 32 bits; anything else ends the walk and sets bad().
class PostingsCursor
{
public:
    PostingsCursor(const TextIndex::PostingsRef& ref, quint32 pages) : m_ref(ref), m_p(ref.bytes), m_pages(pages) {}

    bool bad() const { return m_bad; }

    // The next page that holds the word and the number of its positions there.
    bool nextPage(quint32* page, quint32* count)
    {
        if (!m_ref.bytes) {
            if (m_i + 1 >= m_ref.size)
                return false;
            *page = m_ref.numbers[m_i];
            *count = quint32(std::min<size_t>(m_ref.numbers[m_i + 1], m_ref.size - m_i - 2));
            m_i += 2;
            return true;
        }
        if (m_p == m_ref.bytesEnd)
            return false;
        quint32 delta = 0, less = 0;
        if (!ByteReader::readVarint32(m_p, m_ref.bytesEnd, &delta)
            || !ByteReader::readVarint32(m_p, m_ref.bytesEnd, &less))
            return fail();
        const qint64 next = m_previousPage + 1 + qint64(delta);
        if (next >= qint64(m_pages) || qint64(less) >= m_ref.bytesEnd - m_p)
            return fail();
        m_previousPage = next;
        *page = quint32(next);
        *count = less + 1;
        return true;
    }

    // The page's positions, ascending.
    bool readPositions(quint32 count, std::vector<quint32>* out)
    {
        out->clear();
        if (!m_ref.bytes) {
            out->assign(m_ref.numbers + m_i, m_ref.numbers + m_i + count);
            m_i += count;
            return true;
        }
        out->reserve(count);
        qint64 previous = -1;
        for (quint32 k = 0; k < count; ++k) {
            quint32 delta = 0;
            if (!ByteReader::readVarint32(m_p, m_ref.bytesEnd, &delta))
                return fail();
            previous += 1 + qint64(delta);
            if (previous > qint64(0xFFFFFFFF))
                return fail();
            out->push_back(quint32(previous));
        }
        return true;
    }

    bool skipPositions(quint32 count)
    {
        if (!m_ref.bytes) {
            m_i += count;
            return true;
        }
        while (count > 0) {
            if (m_p == m_ref.bytesEnd)
                return fail();
            if (!(*m_p++ & 0x80))
                --count;
        }
        return true;
    }

private:
    bool fail()
    {
        m_bad = true;
        m_p = m_ref.bytesEnd;
        return false;
    }

    TextIndex::PostingsRef m_ref;
    const uchar* m_p;
    size_t m_i = 0;
    qint64 m_previousPage = -1;
    const quint32 m_pages;
    bool m_bad = false;
};

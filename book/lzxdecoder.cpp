#include "lzxdecoder.h"

#include "bytereader.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int MainTableBits = 11;
constexpr int LengthTableBits = 10;
constexpr int PretreeTableBits = 6;
constexpr int AlignedTableBits = 7;
constexpr size_t PretreeSymbols = 20;
constexpr size_t LengthSymbols = 249;
constexpr size_t AlignedSymbols = 8;
constexpr unsigned MinMatch = 2;
constexpr unsigned NumPrimaryLengths = 7;

// Extra bits and base offset of each position slot.
struct PositionSlots
{
    uint8_t extraBits[51];
    uint32_t base[51];
    constexpr PositionSlots() : extraBits(), base()
    {
        unsigned j = 0;
        for (int i = 0; i < 51; i += 2) {
            extraBits[i] = uint8_t(j);
            if (i + 1 < 51)
                extraBits[i + 1] = uint8_t(j);
            if (i != 0 && j < 17)
                ++j;
        }
        uint32_t b = 0;
        for (int i = 0; i < 51; ++i) {
            base[i] = b;
            b += 1u << extraBits[i];
        }
    }
};
constexpr PositionSlots kSlots;

// The position slots of each window size from 2^15 to 2^21; 0 for any other.
size_t positionSlotsFor(int windowBits)
{
    constexpr size_t counts[] = {30, 32, 34, 36, 38, 42, 50};
    return windowBits >= 15 && windowBits <= 21 ? counts[windowBits - 15] : 0;
}

} // namespace

// Reads the input as 16-bit little-endian words, most significant bit first. Reading past
// the end yields zero bits and is counted, so a truncated frame is detected, never overrun.
struct LzxDecoder::BitReader
{
    const uint8_t* p;
    const uint8_t* end;
    uint64_t buf = 0;
    int bits = 0;
    unsigned overrun = 0;

    BitReader(const uint8_t* data, size_t size) : p(data), end(data + size) {}

    void ensure(int n)
    {
        while (bits < n) {
            uint32_t w;
            if (end - p >= 2) {
                w = ByteReader::le16(QByteArrayView(p, 2), 0);
                p += 2;
            } else if (p < end) {
                w = uint32_t(p[0]);
                p = end;
            } else {
                w = 0;
                ++overrun;
            }
            buf |= uint64_t(w) << (48 - bits);
            bits += 16;
        }
    }
    uint32_t peek(int n) { ensure(n); return uint32_t(buf >> (64 - n)); }
    void remove(int n) { buf <<= n; bits -= n; }
    uint32_t read(int n)
    {
        if (n == 0)
            return 0;
        const uint32_t v = peek(n);
        remove(n);
        return v;
    }
    // An uncompressed block starts on the next 16-bit boundary, after 1 to 16 bits of padding.
    void alignToWord()
    {
        if (bits == 0)
            ensure(16);
        buf = 0;
        bits = 0;
    }
    size_t bytesLeft() const { return size_t(end - p); }
    // More than two words past the end means the frame's data ran out.
    bool exhausted() const { return overrun > 2; }
};

void LzxDecoder::Tree::init(size_t symbols, int bits)
{
    lengths.assign(symbols, 0);
    table.assign(size_t(1) << bits, 0);
    sorted.assign(symbols, 0);
    tableBits = bits;
    usable = false;
}

bool LzxDecoder::Tree::build()
{
    std::fill(std::begin(count), std::end(count), uint16_t(0));
    for (uint8_t len : lengths)
        ++count[len];
    count[0] = 0;

    int left = 1;
    for (int len = 1; len <= 16; ++len) {
        left <<= 1;
        left -= count[len];
        if (left < 0)
            return false;  // over-subscribed: no valid prefix code
    }

    uint16_t nextCode[17] = {};
    uint32_t code = 0;
    uint16_t index = 0;
    for (int len = 1; len <= 16; ++len) {
        code = (code + count[len - 1]) << 1;
        firstCode[len] = uint16_t(code);
        nextCode[len] = uint16_t(code);
        firstIndex[len] = index;
        index = uint16_t(index + count[len]);
    }
    uint16_t fill[17];
    std::copy(std::begin(firstIndex), std::end(firstIndex), std::begin(fill));
    for (size_t s = 0; s < lengths.size(); ++s) {
        if (lengths[s])
            sorted[fill[lengths[s]]++] = uint16_t(s);
    }

    std::fill(table.begin(), table.end(), uint16_t(0));
    for (size_t i = 0; i < index; ++i) {
        const unsigned s = sorted[i];
        const int len = lengths[s];
        const uint32_t c = nextCode[len]++;
        if (len > tableBits)
            continue;
        const uint32_t first = c << (tableBits - len);
        const uint32_t n = 1u << (tableBits - len);
        const uint16_t entry = uint16_t((s << 5) | unsigned(len));
        for (uint32_t k = 0; k < n; ++k)
            table[first + k] = entry;
    }
    usable = index > 0;
    return true;
}

LzxDecoder::LzxDecoder(int windowBits)
{
    const size_t positionSlots = positionSlotsFor(windowBits);
    if (positionSlots == 0)
        return;
    m_windowBits = windowBits;
    m_windowSize = size_t(1) << windowBits;
    m_mainSymbols = 256 + positionSlots * 8;
    m_window.assign(m_windowSize, 0);
    m_pretree.init(PretreeSymbols, PretreeTableBits);
    m_main.init(m_mainSymbols, MainTableBits);
    m_length.init(LengthSymbols, LengthTableBits);
    m_aligned.init(AlignedSymbols, AlignedTableBits);
    m_valid = true;
    reset();
}

void LzxDecoder::reset()
{
    m_position = 0;
    m_framesDone = 0;
    m_r0 = m_r1 = m_r2 = 1;
    m_headerRead = false;
    m_e8FileSize = 0;
    m_e8Started = false;
    m_blockType = NoBlock;
    m_blockRemaining = 0;
    m_blockLength = 0;
    std::fill(m_main.lengths.begin(), m_main.lengths.end(), uint8_t(0));
    std::fill(m_length.lengths.begin(), m_length.lengths.end(), uint8_t(0));
    m_main.usable = m_length.usable = m_aligned.usable = false;
}

bool LzxDecoder::decodeSymbol(BitReader& br, const Tree& tree, unsigned* symbol)
{
    if (!tree.usable)
        return false;
    const uint32_t bits16 = br.peek(16);
    const uint16_t entry = tree.table[bits16 >> (16 - tree.tableBits)];
    if (entry) {
        br.remove(entry & 31);
        *symbol = entry >> 5;
        return true;
    }
    for (int len = tree.tableBits + 1; len <= 16; ++len) {
        const uint32_t code = bits16 >> (16 - len);
        if (tree.count[len] && code >= tree.firstCode[len] && code - tree.firstCode[len] < tree.count[len]) {
            br.remove(len);
            *symbol = tree.sorted[tree.firstIndex[len] + (code - tree.firstCode[len])];
            return true;
        }
    }
    return false;  // a code the tree does not assign
}

// Code lengths are sent as differences to the previous block's lengths, through a pretree.
bool LzxDecoder::readLengths(BitReader& br, Tree& tree, size_t first, size_t last)
{
    for (size_t i = 0; i < PretreeSymbols; ++i)
        m_pretree.lengths[i] = uint8_t(br.read(4));
    if (!m_pretree.build())
        return false;
    std::vector<uint8_t>& lens = tree.lengths;
    size_t x = first;
    while (x < last) {
        if (br.exhausted())
            return false;
        unsigned z;
        if (!decodeSymbol(br, m_pretree, &z))
            return false;
        // 17 and 18: a run of zeros; 19: a run of one length, sent as the symbol behind it;
        // 0 to 16: one length.
        size_t run = 1;
        if (z == 17 || z == 18) {
            run = z == 17 ? br.read(4) + 4 : br.read(5) + 20;
        } else if (z == 19) {
            run = br.read(1) + 4;
            if (!decodeSymbol(br, m_pretree, &z) || z > 16)
                return false;
        }
        run = std::min(run, last - x);
        std::fill_n(lens.begin() + x, run, z >= 17 ? uint8_t(0) : uint8_t((lens[x] + 17 - z) % 17));
        x += run;
    }
    return true;
}

bool LzxDecoder::readBlockHeader(BitReader& br)
{
    const unsigned type = br.read(3);
    const uint32_t hi = br.read(16);
    const uint32_t lo = br.read(8);
    m_blockLength = m_blockRemaining = (hi << 8) | lo;

    switch (type) {
    case Aligned:
        for (size_t i = 0; i < AlignedSymbols; ++i)
            m_aligned.lengths[i] = uint8_t(br.read(3));
        if (!m_aligned.build())
            return false;
        [[fallthrough]];
    case Verbatim:
        if (!readLengths(br, m_main, 0, 256) || !readLengths(br, m_main, 256, m_mainSymbols))
            return false;
        if (!m_main.build() || !m_main.usable)
            return false;
        if (m_main.lengths[0xE8] != 0)
            m_e8Started = true;
        if (!readLengths(br, m_length, 0, LengthSymbols) || !m_length.build())
            return false;
        break;
    case Uncompressed: {
        m_e8Started = true;
        br.alignToWord();
        if (br.bytesLeft() < 12)
            return false;
        const QByteArrayView r(br.p, 12);
        m_r0 = ByteReader::le32(r, 0);
        m_r1 = ByteReader::le32(r, 4);
        m_r2 = ByteReader::le32(r, 8);
        br.p += 12;
        break;
    }
    default:
        return false;
    }
    m_blockType = BlockType(type);
    return !br.exhausted();
}

void LzxDecoder::translateE8(uint8_t* data, size_t size)
{
    if (size <= 10)
        return;
    const int64_t fileSize = m_e8FileSize;
    const int64_t frameStart = int64_t(m_framesDone) * int64_t(FrameSize);
    size_t i = 0;
    while (i < size - 10) {
        if (data[i] != 0xE8) {
            ++i;
            continue;
        }
        const int64_t cur = frameStart + int64_t(i);
        const int32_t absOff = int32_t(ByteReader::le32(QByteArrayView(data + i + 1, 4), 0));
        if (absOff >= -cur && absOff < fileSize) {
            const int64_t rel = absOff >= 0 ? absOff - cur : absOff + fileSize;
            qToLittleEndian(uint32_t(int32_t(rel)), data + i + 1);
        }
        i += 5;
    }
}

bool LzxDecoder::decodeFrame(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize)
{
    if (!m_valid || outSize == 0 || outSize > FrameSize)
        return false;
    BitReader br(in, inSize);

    if (!m_headerRead) {
        if (br.read(1)) {
            const uint32_t hi = br.read(16);
            const uint32_t lo = br.read(16);
            m_e8FileSize = int32_t((hi << 16) | lo);
        }
        m_headerRead = true;
    }

    const size_t mask = m_windowSize - 1;
    const uint64_t frameStart = m_framesDone * FrameSize;
    const uint64_t frameEnd = frameStart + outSize;
    bool copiedOut = false;
    auto copyOut = [&] {
        std::memcpy(out, m_window.data() + (frameStart & mask), outSize);
        copiedOut = true;
    };

    while (m_position < frameEnd) {
        if (br.exhausted())
            return false;
        if (m_blockRemaining == 0) {
            if (!readBlockHeader(br))
                return false;
            continue;
        }

        if (m_blockType == Uncompressed) {
            size_t n = size_t(std::min<uint64_t>(m_blockRemaining, frameEnd - m_position));
            if (n > br.bytesLeft())
                return false;
            for (size_t k = 0; k < n;) {
                const size_t at = size_t((m_position + k) & mask);
                const size_t chunk = std::min(n - k, m_windowSize - at);
                std::memcpy(m_window.data() + at, br.p + k, chunk);
                k += chunk;
            }
            br.p += n;
            m_position += n;
            m_blockRemaining -= uint32_t(n);
            if (m_blockRemaining == 0 && (m_blockLength & 1) && br.bytesLeft() > 0)
                ++br.p;  // the pad byte behind an odd-sized uncompressed block
            continue;
        }

        // Verbatim or aligned block: literals and matches.
        unsigned sym;
        if (!decodeSymbol(br, m_main, &sym))
            return false;
        if (sym < 256) {
            m_window[size_t(m_position & mask)] = uint8_t(sym);
            ++m_position;
            --m_blockRemaining;
            continue;
        }
        sym -= 256;
        unsigned length = sym & 7;
        if (length == NumPrimaryLengths) {
            unsigned footer;
            if (!decodeSymbol(br, m_length, &footer))
                return false;
            length += footer;
        }
        length += MinMatch;

        const unsigned slot = sym >> 3;
        uint32_t offset;
        if (slot > 2) {
            const unsigned extra = kSlots.extraBits[slot];
            offset = kSlots.base[slot] - 2;
            if (m_blockType == Aligned && extra >= 3) {
                if (extra > 3)
                    offset += br.read(int(extra - 3)) << 3;
                unsigned alignedBits;
                if (!decodeSymbol(br, m_aligned, &alignedBits))
                    return false;
                offset += alignedBits;
            } else if (extra > 0) {
                offset += br.read(int(extra));
            } else {
                offset = 1;
            }
            m_r2 = m_r1;
            m_r1 = m_r0;
            m_r0 = offset;
        } else if (slot == 0) {
            offset = m_r0;
        } else {
            // A repeated offset moves to the front.
            std::swap(m_r0, slot == 1 ? m_r1 : m_r2);
            offset = m_r0;
        }

        // A match never reaches before the reset point, beyond the window or past its block.
        if (offset == 0 || offset > m_position || offset > m_windowSize || length > m_blockRemaining)
            return false;
        for (unsigned k = 0; k < length; ++k) {
            if (m_position == frameEnd && !copiedOut)
                copyOut();  // the match runs on into the next frame: hand this one out first
            m_window[size_t(m_position & mask)] = m_window[size_t((m_position - offset) & mask)];
            ++m_position;
        }
        m_blockRemaining -= length;
    }

    if (br.exhausted())
        return false;
    if (!copiedOut)
        copyOut();
    if (m_e8FileSize != 0 && m_e8Started && m_framesDone < 32768)
        translateE8(out, outSize);
    ++m_framesDone;
    return true;
}

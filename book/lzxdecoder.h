#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Decoder for the LZX compression of Compiled HTML Help books. The compressed section is a
// sequence of 32 KiB output frames; each frame's input starts on its own 16-bit boundary and
// the decoder state (window, trees, repeated offsets) carries over from frame to frame until
// the next reset point. Malformed input makes decodeFrame() fail; it never reads or writes
// outside the buffers it is given.
class LzxDecoder
{
public:
    static constexpr size_t FrameSize = 32768;

    // windowBits: 15 to 21.
    explicit LzxDecoder(int windowBits);

    bool isValid() const { return m_valid; }

    // Starts a new reset interval: forgets the window, the trees and the offsets.
    void reset();

    // Decodes one frame of `outSize` bytes (at most FrameSize) from `in`.
    bool decodeFrame(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);

private:
    enum BlockType { NoBlock = 0, Verbatim = 1, Aligned = 2, Uncompressed = 3 };

    struct Tree
    {
        std::vector<uint8_t> lengths;
        // Canonical decoding: a direct table for codes up to TableBits long, then a walk by length.
        std::vector<uint16_t> table;     // symbol << 5 | length, or 0 when the code is longer / unused
        uint16_t count[17] = {};
        uint16_t firstCode[17] = {};
        uint16_t firstIndex[17] = {};
        std::vector<uint16_t> sorted;
        int tableBits = 0;
        bool usable = false;
        void init(size_t symbols, int bits);
        bool build();
    };

    struct BitReader;

    bool readLengths(BitReader& br, Tree& tree, size_t first, size_t last);
    bool decodeSymbol(BitReader& br, const Tree& tree, unsigned* symbol);
    bool readBlockHeader(BitReader& br);
    void translateE8(uint8_t* data, size_t size);

    bool m_valid = false;
    int m_windowBits = 0;
    size_t m_windowSize = 0;
    size_t m_mainSymbols = 0;
    std::vector<uint8_t> m_window;

    // State carried from frame to frame.
    uint64_t m_position = 0;       // bytes decoded since the last reset
    uint64_t m_framesDone = 0;     // frames handed out since the last reset
    uint32_t m_r0 = 1, m_r1 = 1, m_r2 = 1;
    bool m_headerRead = false;
    int32_t m_e8FileSize = 0;
    bool m_e8Started = false;
    BlockType m_blockType = NoBlock;
    uint32_t m_blockRemaining = 0;
    uint32_t m_blockLength = 0;

    Tree m_pretree, m_main, m_length, m_aligned;
};

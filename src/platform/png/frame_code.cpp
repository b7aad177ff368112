// The code's shape: literals 0..15 and 240..255, end of block and the run
// symbols share a Huffman code of at most 8 bits with one escape leaf. The
// escape's subtree (depth e, 2..6) holds the 14 literal groups 16..239,
// each a leaf at depth P = e + d (5..10) with 16 literals below it, so each
// literal of a group has length P + 4 (9..14). Canonical assignment then
// lists every short code first, and the groups after them in decreasing
// size, which leaves each group's first code a multiple of 16: the low
// nibble is the last four bits of the code. BuildFrameCode checks this
// before trusting it.
#include "platform/png/frame_code.h"

#include <algorithm>
#include <bit>

#include "platform/png/huffman_lengths.h"
#include "platform/png/symbols.h"

namespace pngcore {

namespace {

constexpr unsigned kMaxBits = 15;
constexpr unsigned kGroups = 14;

// Items of the short code: 32 literals, end of block, the run symbols the
// sample used (runs elsewhere make do with those, or go out as literal
// zeros), and the escape. A symbol with no use would still take 1/256 of
// the code space from literals that every row needs.
constexpr size_t kMaxShortItems = 32 + 1 + std::size(kRunPieces) + 1;

size_t ShortItems(const SymbolCounts& counts, unsigned* symbols)
{
    size_t n = 0;
    for (unsigned s = 0; s < 16; ++s)
        symbols[n++] = s;
    for (unsigned s = 240; s < 256; ++s)
        symbols[n++] = s;
    symbols[n++] = kEndOfBlock;
    for (const RunPiece& piece : kRunPieces) {
        if (counts.litlen[piece.symbol] != 0)
            symbols[n++] = piece.symbol;
    }
    return n;  // the escape comes last, without a symbol
}

uint32_t Reverse(uint32_t code, unsigned length)
{
    uint32_t out = 0;
    for (unsigned i = 0; i < length; ++i)
        out |= ((code >> i) & 1u) << (length - 1 - i);
    return out;
}

} // namespace

bool CanonicalCodes(const uint8_t* lengths, size_t count, uint32_t* codes)
{
    unsigned perLength[kMaxBits + 1] = {};
    for (size_t i = 0; i < count; ++i)
        ++perLength[lengths[i]];
    perLength[0] = 0;
    uint32_t next[kMaxBits + 2] = {};
    uint32_t code = 0;
    uint64_t space = 0;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
        code = (code + perLength[len - 1]) << 1;
        next[len] = code;
        space += uint64_t{perLength[len]} << (kMaxBits - len);
    }
    if (space != uint64_t{1} << kMaxBits)
        return false;
    for (size_t i = 0; i < count; ++i) {
        codes[i] = lengths[i] ? Reverse(next[lengths[i]]++, lengths[i]) : 0;
    }
    return true;
}

namespace {

// Lengths of the short items and, last, the escape.
bool ShortLengths(const SymbolCounts& counts, const unsigned* symbols, size_t items,
                  uint8_t* lengths)
{
    uint64_t weights[kMaxShortItems];
    uint64_t groupTotal = 0;
    for (unsigned sym = 16; sym < 240; ++sym)
        groupTotal += counts.litlen[sym];
    for (size_t item = 0; item + 1 < items; ++item)
        weights[item] = counts.litlen[symbols[item]] + 1;
    weights[items - 1] = groupTotal + kGroups;
    uint8_t lo[kMaxShortItems], hi[kMaxShortItems];
    std::fill_n(lo, items, 1);
    std::fill_n(hi, items, 8);
    lo[items - 1] = 2;
    hi[items - 1] = 6;
    HuffmanLengths(weights, items, lengths);
    return FitLengths(weights, items, lo, hi, 8, 256, lengths);
}

// Depths of the 14 groups inside the escape subtree of depth `escape`.
bool GroupDepths(const SymbolCounts& counts, unsigned escape, uint8_t* depths)
{
    uint64_t weights[kGroups];
    for (unsigned g = 0; g < kGroups; ++g) {
        weights[g] = 16;
        for (unsigned lo = 0; lo < 16; ++lo)
            weights[g] += counts.litlen[(g + 1) * 16 + lo];
    }
    const unsigned maxDepth = 10 - escape;
    uint8_t lo[kGroups], hi[kGroups];
    std::fill_n(lo, kGroups, static_cast<uint8_t>(escape >= 4 ? 1 : 5 - escape));
    std::fill_n(hi, kGroups, static_cast<uint8_t>(maxDepth));
    HuffmanLengths(weights, kGroups, depths);
    return FitLengths(weights, kGroups, lo, hi, maxDepth, uint64_t{1} << maxDepth, depths);
}

void FillTables(const uint8_t* lengths, const uint32_t* codes, FrameCode& code)
{
    LiteralTables& t = code.literals;
    for (unsigned sym = 0; sym < 256; ++sym) {
        t.length[sym] = lengths[sym];
        t.code[sym] = static_cast<uint16_t>(codes[sym]);
    }
    for (unsigned i = 0; i < 16; ++i) {
        t.lowCode[i] = static_cast<uint8_t>(codes[i]);
        t.lowLength[i] = lengths[i];
        t.highCode[i] = static_cast<uint8_t>(codes[240 + i]);
        t.highLength[i] = lengths[240 + i];
        t.reverse4[i] = static_cast<uint8_t>(Reverse(i, 4));
        t.prefixLo[i] = t.prefixHi[i] = t.groupLength[i] = t.shiftLo[i] = t.shiftHi[i] = 0;
    }
    for (unsigned g = 1; g <= kGroups; ++g) {
        const unsigned length = lengths[g * 16];
        const unsigned prefixLength = length - 4;
        const uint32_t prefix = codes[g * 16] & ((1u << prefixLength) - 1);
        t.prefixLo[g] = static_cast<uint8_t>(prefix);
        t.prefixHi[g] = static_cast<uint8_t>(prefix >> 8);
        t.groupLength[g] = static_cast<uint8_t>(length);
        t.shiftLo[g] = static_cast<uint8_t>((1u << prefixLength) & 0xFF);
        t.shiftHi[g] = static_cast<uint8_t>((1u << prefixLength) >> 8);
    }
    code.endCode = codes[kEndOfBlock];
    code.endLength = lengths[kEndOfBlock];
    std::fill(std::begin(code.matchLength), std::end(code.matchLength), 0);
    for (const RunPiece& piece : kRunPieces) {
        const unsigned symLength = lengths[piece.symbol];
        if (symLength == 0)
            continue;  // not sent in this frame
        for (unsigned len = piece.first; len <= piece.last; ++len) {
            // Length code, extra bits, then distance code 0 (a single 0 bit).
            code.matchCode[len] = codes[piece.symbol] | ((len - piece.first) << symLength);
            code.matchLength[len] = static_cast<uint8_t>(symLength + piece.extraBits + 1);
        }
    }
}

// Every group literal must come out as prefix | reverse4(low) << P.
bool GroupsFitTables(const uint8_t* lengths, const uint32_t* codes, const LiteralTables& t)
{
    for (unsigned sym = 16; sym < 240; ++sym) {
        const unsigned g = sym >> 4;
        const unsigned prefixLength = t.groupLength[g] - 4u;
        const uint32_t expect = (t.prefixLo[g] | (t.prefixHi[g] << 8)) |
                                (static_cast<uint32_t>(t.reverse4[sym & 15]) << prefixLength);
        if (lengths[sym] != t.groupLength[g] || codes[sym] != expect)
            return false;
    }
    for (unsigned i = 0; i < 16; ++i) {
        if (lengths[i] > 8 || lengths[240 + i] > 8)
            return false;
    }
    return true;
}

} // namespace

unsigned LengthSymbol(uint32_t length)
{
    for (const RunPiece& piece : kRunPieces) {
        if (length >= piece.first && length <= piece.last)
            return piece.symbol;
    }
    return 0;
}

bool BuildFrameCode(const SymbolCounts& counts, FrameCode& code, CodeLengths& out)
{
    unsigned symbols[kMaxShortItems];
    const size_t items = ShortItems(counts, symbols) + 1;
    uint8_t shortLengths[kMaxShortItems];
    if (!ShortLengths(counts, symbols, items, shortLengths))
        return false;
    const unsigned escape = shortLengths[items - 1];
    uint8_t depths[kGroups];
    if (!GroupDepths(counts, escape, depths))
        return false;

    uint8_t* lengths = out.litlen;
    std::fill_n(lengths, kLitLenSymbols, 0);
    for (size_t item = 0; item + 1 < items; ++item)
        lengths[symbols[item]] = shortLengths[item];
    for (unsigned g = 0; g < kGroups; ++g) {
        for (unsigned lo = 0; lo < 16; ++lo)
            lengths[(g + 1) * 16 + lo] = static_cast<uint8_t>(escape + depths[g] + 4);
    }
    uint32_t codes[kLitLenSymbols];
    if (!CanonicalCodes(lengths, kLitLenSymbols, codes))
        return false;
    FillTables(lengths, codes, code);
    return GroupsFitTables(lengths, codes, code.literals);
}

void WriteBlockHeader(const CodeLengths& lengths, BitWriter& writer, bool final)
{
    static constexpr uint8_t kOneDistance[1] = {1};
    WriteDynamicHeader(lengths.litlen, kLitLenSymbols, kOneDistance, 1, writer, final);
}

void WriteDynamicHeader(const uint8_t* litlen, unsigned litlenCount, const uint8_t* dist,
                        unsigned distCount, BitWriter& writer, bool final)
{
    // Code lengths of the literal/length and the distance symbols as one
    // sequence, run-length coded with symbols 16, 17 and 18.
    uint8_t all[kLitLenSymbols + kDistSymbols];
    const size_t total = litlenCount + distCount;
    std::copy_n(litlen, litlenCount, all);
    std::copy_n(dist, distCount, all + litlenCount);
    struct Item {
        uint8_t symbol;
        uint8_t extra;
    };
    Item items[kLitLenSymbols + kDistSymbols];
    size_t itemCount = 0;
    uint64_t freq[19] = {};
    for (size_t i = 0; i < total;) {
        size_t run = 1;
        while (i + run < total && all[i + run] == all[i])
            ++run;
        size_t left = run;
        if (all[i] == 0) {
            while (left >= 11) {
                const size_t take = std::min<size_t>(left, 138);
                items[itemCount++] = {18, static_cast<uint8_t>(take - 11)};
                left -= take;
            }
            if (left >= 3) {
                items[itemCount++] = {17, static_cast<uint8_t>(left - 3)};
                left = 0;
            }
        } else {
            items[itemCount++] = {all[i], 0};
            --left;
            while (left >= 3) {
                const size_t take = std::min<size_t>(left, 6);
                items[itemCount++] = {16, static_cast<uint8_t>(take - 3)};
                left -= take;
            }
        }
        for (; left != 0; --left)
            items[itemCount++] = {all[i], 0};
        i += run;
    }
    for (size_t i = 0; i < itemCount; ++i)
        ++freq[items[i].symbol];

    // The code-length code must be complete, so it gets at least two symbols.
    uint8_t used[19];
    size_t usedCount = 0;
    for (uint8_t s = 0; s < 19; ++s) {
        if (freq[s] != 0)
            used[usedCount++] = s;
    }
    for (uint8_t s = 0; usedCount < 2; ++s) {
        if (freq[s] == 0)
            used[usedCount++] = s;
    }
    uint64_t weights[19];
    uint8_t clLengths[19], lo[19], hi[19];
    for (size_t i = 0; i < usedCount; ++i) {
        weights[i] = freq[used[i]] + 1;
        lo[i] = 1;
        hi[i] = 7;
    }
    HuffmanLengths(weights, usedCount, clLengths);
    FitLengths(weights, usedCount, lo, hi, 7, 128, clLengths);  // 19 items always fit in 7 bits
    uint8_t symbolLengths[19] = {};
    for (size_t i = 0; i < usedCount; ++i)
        symbolLengths[used[i]] = clLengths[i];
    uint32_t clCodes[19];
    CanonicalCodes(symbolLengths, 19, clCodes);

    static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                           11, 4, 12, 3, 13, 2, 14, 1, 15};
    unsigned hclen = 19;
    while (hclen > 4 && symbolLengths[kOrder[hclen - 1]] == 0)
        --hclen;

    writer.Put(final ? 1 : 0, 1);            // BFINAL
    writer.Put(2, 2);                        // dynamic Huffman
    writer.Put(litlenCount - 257, 5);        // HLIT
    writer.Put(distCount - 1, 5);            // HDIST
    writer.Put(hclen - 4, 4);
    for (unsigned i = 0; i < hclen; ++i)
        writer.Put(symbolLengths[kOrder[i]], 3);
    static constexpr uint8_t kExtraBits[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                               0, 0, 0, 0, 0, 0, 2, 3, 7};
    for (size_t i = 0; i < itemCount; ++i) {
        const Item item = items[i];
        writer.Put(clCodes[item.symbol], symbolLengths[item.symbol]);
        if (kExtraBits[item.symbol] != 0)
            writer.Put(item.extra, kExtraBits[item.symbol]);
    }
}

void FillGuessedCosts(LiteralTables& t)
{
    for (unsigned b = 0; b < 256; ++b) {
        const int r = static_cast<int8_t>(b);
        const unsigned magnitude = static_cast<unsigned>(r < 0 ? -r : r);
        t.length[b] = static_cast<uint8_t>(2 + std::bit_width(magnitude));
        t.code[b] = 0;
    }
    for (unsigned i = 0; i < 16; ++i) {
        t.lowLength[i] = t.length[i];
        t.highLength[i] = t.length[240 + i];
        t.groupLength[i] = 0;
    }
    for (unsigned g = 1; g <= kGroups; ++g) {
        t.groupLength[g] = t.length[g * 16];
        for (unsigned lo = 0; lo < 16; ++lo)
            t.length[g * 16 + lo] = t.groupLength[g];
    }
}

} // namespace pngcore

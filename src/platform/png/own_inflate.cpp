// Table-driven: a 12-bit lookup gives one literal, or two when both codes
// fit in its bits, or a length symbol; the rare longer codes are decoded
// canonically bit by bit. Every value read is checked before it is used.
#include "platform/png/own_inflate.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <memory>

namespace pngcore {

namespace {

constexpr unsigned kMaxBits = 15;
constexpr unsigned kLitTableBits = 12;
constexpr unsigned kDistTableBits = 10;
constexpr unsigned kMaxLitLen = 286;  // symbols 286 and 287 never occur
constexpr unsigned kLitLenCodes = 288;  // but the fixed code gives them codes
constexpr unsigned kMaxDist = 30;

// Table entries: bits to drop (0..15) | kind << 4 | value << 8. Kinds 1
// to 3 are that many literals, in the value's bytes; a symbol's value is
// the literal/length symbol less 256 (or the symbol, in other tables); a
// subtable's, where it starts. Entries with nothing to drop send the
// decoder to the bit-by-bit path, which also finds the codes that do not
// exist in an incomplete code.
enum : uint32_t { kOne = 1, kTwo = 2, kThree = 3, kSymbol = 4, kSub = 5 };
// Codes longer than the literal lookup continue in 8-entry subtables
// indexed by their last three bits.
constexpr unsigned kSubBits = kMaxBits - 12;

constexpr uint32_t Entry(uint32_t bits, uint32_t kind, uint32_t value)
{
    return bits | kind << 4 | value << 8;
}
constexpr unsigned Bits(uint32_t e) { return e & 0xF; }
constexpr unsigned Kind(uint32_t e) { return (e >> 4) & 0xF; }
constexpr uint32_t Value(uint32_t e) { return e >> 8; }

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};

inline unsigned DistExtra(unsigned symbol) { return symbol < 4 ? 0 : symbol / 2 - 1; }

struct BitReader {
    const uint8_t* begin;
    const uint8_t* next;
    const uint8_t* end;
    uint64_t buf = 0;
    unsigned count = 0;
    size_t padding = 0;  // zero bytes read past the end

    // Leaves at least 56 bits in buf. Bits above `count` are always the
    // stream's own next bits, so OR-ing them in again changes nothing.
    void Refill()
    {
        if (end - next >= 8) {
            uint64_t word;
            std::memcpy(&word, next, 8);
            buf |= word << count;
            next += (63 - count) >> 3;
            count |= 56;
            return;
        }
        while (count <= 56) {
            if (next < end)
                buf |= uint64_t{*next++} << count;
            else
                ++padding;
            count += 8;
        }
    }
    uint32_t Take(unsigned n)
    {
        const uint32_t v = static_cast<uint32_t>(buf & ((uint64_t{1} << n) - 1));
        buf >>= n;
        count -= n;
        return v;
    }
    void Drop(unsigned n)
    {
        buf >>= n;
        count -= n;
    }
    // True once bits beyond the input were used.
    bool Overrun() const { return padding * 8 > count; }
    size_t BitsLeft() const { return static_cast<size_t>(end - next) * 8 + count - padding * 8; }
    // Bits used so far.
    size_t Position() const { return static_cast<size_t>(next - begin + padding) * 8 - count; }
    // Continues at byte `at` (a byte boundary at or after Position()).
    void Seek(size_t at)
    {
        next = begin + at;
        buf = 0;
        count = 0;
        padding = 0;
    }
};

// A canonical code for the bit-by-bit path.
struct Canonical {
    uint16_t count[kMaxBits + 1];
    uint16_t symbol[kLitLenCodes];
};

uint32_t Reverse(uint32_t code, unsigned length)
{
    uint32_t out = 0;
    for (unsigned i = 0; i < length; ++i)
        out |= ((code >> i) & 1u) << (length - 1 - i);
    return out;
}

// Sets up `canon` and reports whether the code is complete, or (when
// `sparseOk`, for distances) a lone code of one bit or no code at all.
bool Prepare(const uint8_t* lengths, unsigned n, bool sparseOk, Canonical& canon)
{
    std::fill(std::begin(canon.count), std::end(canon.count), 0);
    for (unsigned s = 0; s < n; ++s)
        ++canon.count[lengths[s]];
    canon.count[0] = 0;
    uint32_t space = 0;
    uint16_t offset[kMaxBits + 2] = {};
    for (unsigned len = 1; len <= kMaxBits; ++len) {
        space += uint32_t{canon.count[len]} << (kMaxBits - len);
        offset[len + 1] = static_cast<uint16_t>(offset[len] + canon.count[len]);
    }
    for (unsigned s = 0; s < n; ++s) {
        if (lengths[s] != 0)
            canon.symbol[offset[lengths[s]]++] = static_cast<uint16_t>(s);
    }
    if (space == uint32_t{1} << kMaxBits)
        return true;
    return sparseOk && (space == 0 || (canon.count[1] == 1 && space == uint32_t{1} << (kMaxBits - 1)));
}

// The bit-by-bit path; needs 15 bits in the reader. Returns -1 for a code
// that does not exist.
int DecodeSlowly(BitReader& in, const Canonical& canon)
{
    int code = 0, first = 0, index = 0;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
        code |= static_cast<int>((in.buf >> (len - 1)) & 1);
        const int count = canon.count[len];
        if (code - first < count) {
            in.Drop(len);
            return canon.symbol[index + code - first];
        }
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return -1;
}

// The first canonical code of each length, as deflate assigns them.
void FirstCodes(const uint8_t* lengths, unsigned n, uint32_t next[kMaxBits + 1])
{
    uint16_t count[kMaxBits + 1] = {};
    for (unsigned s = 0; s < n; ++s)
        ++count[lengths[s]];
    count[0] = 0;
    next[0] = 0;
    uint32_t code = 0;
    for (unsigned len = 1; len <= kMaxBits; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
}

// Fills `table` (1 << bits entries) with the codes of at most `bits`
// bits; longer codes and holes are left as zero entries.
void FillTable(const uint8_t* lengths, unsigned n, unsigned bits, uint32_t* table, bool literals)
{
    std::fill_n(table, size_t{1} << bits, 0);
    uint32_t next[kMaxBits + 1];
    FirstCodes(lengths, n, next);
    for (unsigned s = 0; s < n; ++s) {
        const unsigned len = lengths[s];
        if (len == 0)
            continue;
        const uint32_t reversed = Reverse(next[len]++, len);
        if (len > bits)
            continue;
        const uint32_t entry = literals && s < 256 ? Entry(len, kOne, s)
                                                   : Entry(len, kSymbol, literals ? s - 256 : s);
        for (uint32_t i = reversed; i < (uint32_t{1} << bits); i += uint32_t{1} << len)
            table[i] = entry;
    }
}

struct Tables {
    uint32_t lit[1u << kLitTableBits];
    uint32_t dist[1u << kDistTableBits];
    uint32_t sub[kLitLenCodes << kSubBits];  // at most one subtable per long code
    Canonical litCanon;
    Canonical distCanon;
};

// Subtables for the literal/length codes longer than the lookup.
void FillSubtables(const uint8_t* lengths, unsigned n, Tables& t)
{
    static_assert(kLitTableBits + kSubBits == kMaxBits, "subtables finish every code");
    uint32_t next[kMaxBits + 1];
    FirstCodes(lengths, n, next);
    uint32_t used = 0;
    for (unsigned s = 0; s < n; ++s) {
        const unsigned len = lengths[s];
        if (len == 0)
            continue;
        const uint32_t reversed = Reverse(next[len]++, len);
        if (len <= kLitTableBits)
            continue;
        uint32_t& head = t.lit[reversed & ((1u << kLitTableBits) - 1)];
        if (head == 0) {
            head = Entry(kLitTableBits, kSub, used);
            std::fill_n(t.sub + used, 1u << kSubBits, 0);
            used += 1u << kSubBits;
        }
        uint32_t* sub = t.sub + Value(head);
        const uint32_t entry = s < 256 ? Entry(len, kOne, s) : Entry(len, kSymbol, s - 256);
        for (uint32_t i = reversed >> kLitTableBits; i < (1u << kSubBits); i += 1u << (len - kLitTableBits))
            sub[i] = entry;
    }
}

// Runs of two or three literals whose codes together fit the lookup's
// bits: the bits after a literal's code index the next one's entry.
void AddRuns(Tables& t)
{
    static_assert(kLitTableBits <= 12, "three literals and the bits fit an entry");
    thread_local uint32_t single[1u << kLitTableBits];
    std::memcpy(single, t.lit, sizeof single);
    for (uint32_t i = 0; i < (1u << kLitTableBits); ++i) {
        uint32_t e = single[i];
        if (Kind(e) != kOne || Bits(e) == 0)
            continue;
        for (unsigned count = 1; count < 3; ++count) {
            const unsigned used = Bits(e);
            if (used >= kLitTableBits)
                break;
            const uint32_t next = single[i >> used];
            if (Kind(next) != kOne || Bits(next) == 0 || used + Bits(next) > kLitTableBits)
                break;
            e = Entry(used + Bits(next), count + 1, Value(e) | Value(next) << (8 * count));
        }
        t.lit[i] = e;
    }
}

// The dynamic block's header: code lengths, their checks, the tables.
bool ReadCodes(BitReader& in, Tables& t)
{
    in.Refill();
    const unsigned hlit = in.Take(5) + 257, hdist = in.Take(5) + 1, hclen = in.Take(4) + 4;
    if (hlit > kMaxLitLen || hdist > kMaxDist)
        return false;
    static constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                           11, 4, 12, 3, 13, 2, 14, 1, 15};
    uint8_t clLengths[19] = {};
    for (unsigned i = 0; i < hclen; ++i) {
        in.Refill();
        clLengths[kOrder[i]] = static_cast<uint8_t>(in.Take(3));
    }
    Canonical clCanon;
    if (!Prepare(clLengths, 19, false, clCanon))
        return false;
    uint32_t clTable[1u << 7];
    FillTable(clLengths, 19, 7, clTable, false);

    uint8_t lengths[kMaxLitLen + kMaxDist] = {};
    const unsigned total = hlit + hdist;
    for (unsigned i = 0; i < total;) {
        in.Refill();
        const uint32_t e = clTable[in.buf & 0x7F];
        in.Drop(Bits(e));  // a complete code of at most 7 bits has no holes
        const unsigned sym = Value(e);
        if (sym < 16) {
            lengths[i++] = static_cast<uint8_t>(sym);
            continue;
        }
        unsigned repeat;
        uint8_t value = 0;
        if (sym == 16) {
            if (i == 0)
                return false;
            value = lengths[i - 1];
            repeat = 3 + in.Take(2);
        } else if (sym == 17) {
            repeat = 3 + in.Take(3);
        } else {
            repeat = 11 + in.Take(7);
        }
        if (repeat > total - i)
            return false;
        std::fill_n(lengths + i, repeat, value);
        i += repeat;
    }
    if (in.Overrun() || lengths[256] == 0)
        return false;
    const uint8_t* dist = lengths + hlit;
    if (!Prepare(lengths, hlit, false, t.litCanon) || !Prepare(dist, hdist, true, t.distCanon))
        return false;
    FillTable(lengths, hlit, kLitTableBits, t.lit, true);
    FillTable(dist, hdist, kDistTableBits, t.dist, false);
    AddRuns(t);
    FillSubtables(lengths, hlit, t);
    return true;
}

// Copies a match whose source lies inside what was written. With room
// to spare it moves whole words: the last may run up to 15 bytes past the
// match, still inside the output, and the next symbols overwrite them.
inline void Copy(uint8_t* to, size_t distance, size_t length, const uint8_t* end)
{
    const uint8_t* from = to - distance;
    if (static_cast<size_t>(end - to) < length + 16) {
        for (size_t i = 0; i < length; ++i)
            to[i] = from[i];
    } else if (distance >= 16) {
        for (size_t i = 0; i < length; i += 16)
            std::memcpy(to + i, from + i, 16);
    } else if (distance >= 8) {
        for (size_t i = 0; i < length; i += 8)
            std::memcpy(to + i, from + i, 8);
    } else if (distance == 1) {
        std::memset(to, *from, length);
    } else {
        // A short period (a pixel): one word holding whole periods, stored
        // again and again with no loads, which would wait on the stores.
        uint8_t pattern[8];
        for (size_t i = 0; i < 8; ++i)
            pattern[i] = from[i % distance];
        const size_t step = distance * (8 / distance);
        for (size_t i = 0; i < length; i += step)
            std::memcpy(to + i, pattern, 8);
    }
}

// One lookup's literals (one to three), stored as four bytes whatever
// their number: the caller has room, and later output replaces the spare.
inline bool PutLiterals(uint32_t e, uint8_t*& p, BitReader& in)
{
    const unsigned count = Kind(e);
    if (count > kThree || Bits(e) == 0)
        return false;
    const uint32_t bytes = Value(e);
    std::memcpy(p, &bytes, 4);
    p += count;
    in.Drop(Bits(e));
    return true;
}

// Symbols up to end of block. False for a bad code, a distance before the
// output, or output past `end`.
bool ReadSymbols(BitReader& reader, const Tables& t, uint8_t* out, uint8_t*& at, uint8_t* end)
{
    static_assert(std::endian::native == std::endian::little, "literals are stored as a word");
    // A local reader: stores through byte pointers could alias a member.
    BitReader in = reader;
    uint8_t* p = at;
    constexpr uint64_t kLitMask = (1u << kLitTableBits) - 1;
    while (true) {
        in.Refill();
        uint32_t e = t.lit[in.buf & kLitMask];
        // Literals in runs: three lookups of at most 12 bits fit one refill,
        // and write at most 9 bytes and a spare.
        if (end - p >= 16 && PutLiterals(e, p, in)) {
            if (PutLiterals(t.lit[in.buf & kLitMask], p, in))
                PutLiterals(t.lit[in.buf & kLitMask], p, in);
            continue;
        }
        if (Kind(e) == kSub)
            e = t.sub[Value(e) + ((in.buf >> kLitTableBits) & ((1u << kSubBits) - 1))];
        unsigned sym;
        if (Bits(e) == 0) {
            const int s = DecodeSlowly(in, t.litCanon);
            if (s < 0)
                return false;
            sym = static_cast<unsigned>(s);
        } else if (Kind(e) <= kThree) {
            // Near the end: the literals one by one, each checked.
            const unsigned count = Kind(e);
            if (static_cast<size_t>(end - p) < count)
                return false;
            for (unsigned i = 0; i < count; ++i)
                p[i] = static_cast<uint8_t>(Value(e) >> (8 * i));
            p += count;
            in.Drop(Bits(e));
            continue;
        } else {
            in.Drop(Bits(e));
            sym = 256 + Value(e);
        }
        if (sym < 256) {
            if (p == end)
                return false;
            *p++ = static_cast<uint8_t>(sym);
            continue;
        }
        if (sym == 256)
            break;
        // At least 56 - 15 bits remain: enough for the length's extra bits
        // and the whole distance.
        const unsigned li = sym - 257;
        if (li >= 29)
            return false;
        const size_t length = kLengthBase[li] + in.Take(kLengthExtra[li]);
        e = t.dist[in.buf & ((1u << kDistTableBits) - 1)];
        unsigned dsym;
        if (Bits(e) == 0) {
            const int s = DecodeSlowly(in, t.distCanon);
            if (s < 0)
                return false;
            dsym = static_cast<unsigned>(s);
        } else {
            in.Drop(Bits(e));
            dsym = Value(e);
        }
        if (dsym >= kMaxDist)
            return false;
        const size_t distance = kDistBase[dsym] + in.Take(DistExtra(dsym));
        if (distance > static_cast<size_t>(p - out) || length > static_cast<size_t>(end - p))
            return false;
        Copy(p, distance, length, end);
        p += length;
    }
    at = p;
    reader = in;
    return !in.Overrun();
}

} // namespace

bool InflateOwnBand(const uint8_t* in, size_t inSize, bool last, uint8_t* out, size_t outSize)
{
    BitReader bits{in, in, in + inSize};
    bits.Refill();
    if (bits.Take(1) != (last ? 1u : 0u) || bits.Take(2) != 2)
        return false;
    thread_local Tables tables;
    if (!ReadCodes(bits, tables))
        return false;
    uint8_t* at = out;
    if (!ReadSymbols(bits, tables, out, at, out + outSize) || at != out + outSize)
        return false;
    if (last)
        return bits.BitsLeft() < 8;  // padding to the byte
    // The empty stored block: not final, stored, aligned, LEN 0, NLEN ~0.
    bits.Refill();
    if (bits.Take(3) != 0)
        return false;
    bits.Drop(bits.count & 7);
    bits.Refill();
    return bits.Take(16) == 0 && bits.Take(16) == 0xFFFF && !bits.Overrun() && bits.BitsLeft() == 0;
}

} // namespace pngcore

namespace pngcore {

namespace {

// The fixed code's tables, built once.
const Tables& FixedTables()
{
    static const std::unique_ptr<Tables> fixed = [] {
        auto t = std::make_unique<Tables>();
        uint8_t lengths[kLitLenCodes + 32];
        std::fill_n(lengths, 144, 8);
        std::fill_n(lengths + 144, 112, 9);
        std::fill_n(lengths + 256, 24, 7);
        std::fill_n(lengths + 280, 8, 8);
        std::fill_n(lengths + kLitLenCodes, 32, 5);
        Prepare(lengths, kLitLenCodes, false, t->litCanon);
        Prepare(lengths + kLitLenCodes, 32, false, t->distCanon);
        FillTable(lengths, kLitLenCodes, kLitTableBits, t->lit, true);
        FillTable(lengths + kLitLenCodes, 32, kDistTableBits, t->dist, false);
        AddRuns(*t);
        FillSubtables(lengths, kLitLenCodes, *t);
        return t;
    }();
    return *fixed;
}

} // namespace

bool InflateStream(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize,
                   StreamEnd& streamEnd)
{
    BitReader bits{in, in, in + inSize};
    thread_local Tables dynamic;
    uint8_t* at = out;
    uint8_t* const end = out + outSize;
    while (true) {
        bits.Refill();
        const size_t start = bits.Position();
        const uint32_t final = bits.Take(1), type = bits.Take(2);
        if (type == 0) {
            bits.Drop(bits.count & 7);
            bits.Refill();
            const uint32_t length = bits.Take(16), check = bits.Take(16);
            const size_t from = bits.Position() / 8;
            if (bits.Overrun() || length != (~check & 0xFFFF) || length > inSize - from ||
                length > static_cast<size_t>(end - at))
                return false;
            std::memcpy(at, in + from, length);
            at += length;
            bits.Seek(from + length);
        } else if (type == 1) {
            if (!ReadSymbols(bits, FixedTables(), out, at, end))
                return false;
        } else if (type != 2 || !ReadCodes(bits, dynamic) || !ReadSymbols(bits, dynamic, out, at, end)) {
            return false;
        }
        if (final) {
            streamEnd.finalBlockBit = start;
            streamEnd.endBit = bits.Position();
            return at == end && !bits.Overrun();
        }
    }
}

} // namespace pngcore

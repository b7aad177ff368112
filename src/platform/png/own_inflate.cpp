// Table-driven: a 12-bit lookup gives up to three literals when their codes
// fit in its bits, or a length symbol; longer codes go through subtables,
// and codes an incomplete code lacks are found bit by bit. Every value read
// is checked before it is used. Two bands can be inflated together, their
// symbols taken in turn, so that each one's lookups overlap the other's.
#include "platform/png/own_inflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <iterator>
#include <memory>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "platform/png/kernels.h"

namespace pngcore {

namespace {

constexpr unsigned kMaxBits = 15;
constexpr unsigned kLitTableBits = 12;
constexpr unsigned kDistTableBits = 10;
constexpr unsigned kMaxLitLen = 286;  // symbols 286 and 287 never occur
constexpr unsigned kLitLenCodes = 288;  // but the fixed code gives them codes
constexpr unsigned kMaxDist = 30;

// Table entries: up to three literals in bits 0..23, or, when there are
// none, value | the code's own length << 16 | kind << 20; then the bits to
// drop (0..63) << 24 | the literal count << 30. Literals are stored as the
// entry itself, and the top byte, rotated down, is the drop. The bits to
// drop include a length's or distance's extra bits, which follow its code,
// so that one shift takes both and the value is the base to which they are
// added. An end of block drops its code; a subtable's value is where it
// starts; kSlow sends the decoder to the bit-by-bit path, which also finds
// the codes that do not exist in an incomplete code.
enum : uint32_t { kMatch = 0, kEnd = 1, kSub = 2, kSlow = 3, kInvalid = 4 };
// Codes longer than the literal lookup continue in 8-entry subtables
// indexed by their last three bits.
constexpr unsigned kSubBits = kMaxBits - kLitTableBits;
constexpr uint32_t kKindMask = 7u << 20;

constexpr uint32_t Literal(uint32_t bits, uint32_t count, uint32_t bytes)
{
    return bytes | bits << 24 | count << 30;
}
constexpr uint32_t Entry(uint32_t drop, uint32_t codeBits, uint32_t kind, uint32_t value)
{
    return value | codeBits << 16 | kind << 20 | drop << 24;
}
constexpr unsigned Drop(uint32_t e) { return (e >> 24) & 0x3F; }
constexpr unsigned Count(uint32_t e) { return e >> 30; }
// Kind, value and code length mean something only when Count(e) is zero.
constexpr unsigned Kind(uint32_t e) { return (e >> 20) & 7; }
constexpr uint32_t Value(uint32_t e) { return e & 0xFFFF; }
constexpr unsigned CodeBits(uint32_t e) { return (e >> 16) & 0xF; }
constexpr uint32_t Bytes(uint32_t e) { return e & 0xFFFFFF; }

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};

inline unsigned DistExtra(unsigned symbol) { return symbol < 4 ? 0 : symbol / 2 - 1; }

enum class Alphabet { kCodeLengths, kLiterals, kDistances };

// The entry for symbol `s` of a code `bits` long; zero bits for a code
// the bit-by-bit path has already dropped.
uint32_t SymbolEntry(uint32_t bits, unsigned s, Alphabet alphabet)
{
    if (alphabet == Alphabet::kLiterals) {
        if (s < 256)
            return Literal(bits, 1, s);
        if (s > 256 && s < kMaxLitLen)
            return Entry(bits + kLengthExtra[s - 257], bits, kMatch, kLengthBase[s - 257]);
        return Entry(bits, bits, s == 256 ? kEnd : kInvalid, 0);  // 286 and 287 never occur
    }
    if (alphabet == Alphabet::kDistances)
        return s < kMaxDist ? Entry(bits + DistExtra(s), bits, kMatch, kDistBase[s])
                            : Entry(bits, bits, kInvalid, 0);
    return Entry(bits, bits, kMatch, s);
}

constexpr uint32_t kSlowEntry = Entry(0, 0, kSlow, 0);

struct BitReader {
    const uint8_t* begin;
    const uint8_t* next;
    const uint8_t* end;
    uint64_t buf = 0;
    // Bits held in buf: the low six bits of `count`. Above them is what
    // subtracting rotated table entries leaves, whose low six bits are the
    // bits to drop, so DropEntry needs no mask.
    unsigned count = 0;
    size_t padding = 0;  // zero bytes read past the end

    unsigned Held() const { return count & 63; }

    // Leaves at least 56 bits in buf. Bits above those held are always
    // the stream's own next bits, so OR-ing them in again changes nothing.
    void Refill()
    {
        if (end - next >= 8) {
            RefillFast();
            return;
        }
        while (Held() < 56) {
            if (next < end)
                buf |= uint64_t{*next++} << Held();
            else
                ++padding;
            count += 8;
        }
    }
    // Refill for at least 8 bytes left.
    void RefillFast()
    {
        uint64_t word;
        std::memcpy(&word, next, 8);
        buf |= word << (count & 63);
        next += 7 - ((count >> 3) & 7);
        count |= 56;
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
    // Drops the bits a table entry takes.
    void DropEntry(uint32_t e)
    {
        const uint32_t rotated = std::rotr(e, 24);
        buf >>= rotated & 63;
        count -= rotated;
    }
    // True once bits beyond the input were used.
    bool Overrun() const { return padding * 8 > Held(); }
    size_t BitsLeft() const { return static_cast<size_t>(end - next) * 8 + Held() - padding * 8; }
    // Bits used so far.
    size_t Position() const { return static_cast<size_t>(next - begin + padding) * 8 - Held(); }
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
// bits; longer codes and holes are left to the bit-by-bit path.
void FillTable(const uint8_t* lengths, unsigned n, unsigned bits, uint32_t* table, Alphabet alphabet)
{
    std::fill_n(table, size_t{1} << bits, kSlowEntry);
    uint32_t next[kMaxBits + 1];
    FirstCodes(lengths, n, next);
    for (unsigned s = 0; s < n; ++s) {
        const unsigned len = lengths[s];
        if (len == 0)
            continue;
        const uint32_t reversed = Reverse(next[len]++, len);
        if (len > bits)
            continue;
        const uint32_t entry = SymbolEntry(len, s, alphabet);
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
    // The code the tables hold, if any: a frame's bands share one, and a
    // band that repeats it need not build them again.
    unsigned builtLit = 0;  // 0 while none is whole
    unsigned builtDist = 0;
    uint8_t builtLengths[kMaxLitLen + kMaxDist];
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
        if (head == kSlowEntry) {
            head = Entry(0, 0, kSub, used);
            std::fill_n(t.sub + used, 1u << kSubBits, kSlowEntry);
            used += 1u << kSubBits;
        }
        uint32_t* sub = t.sub + Value(head);
        const uint32_t entry = SymbolEntry(len, s, Alphabet::kLiterals);
        for (uint32_t i = reversed >> kLitTableBits; i < (1u << kSubBits); i += 1u << (len - kLitTableBits))
            sub[i] = entry;
    }
}

// Runs of two or three literals whose codes together fit the lookup's
// bits: the bits after a literal's code index the next one's entry. That
// index is below the entry's own, so going down reads single literals.
// Without branches: which entries join varies entry by entry, and the
// tables are built again for every band.
void AddRuns(Tables& t)
{
    static_assert(kLitTableBits <= 12, "three literals and the bits fit an entry");
    const uint32_t* single = t.lit;
    const auto literal = [](uint32_t e) { return Count(e) == 1; };
    for (uint32_t i = (1u << kLitTableBits); i-- > 0;) {
        const uint32_t e1 = single[i];
        // Shifts of kLitTableBits or more index entry 0, never joined then.
        const unsigned used1 = std::min(Drop(e1), kLitTableBits);
        const uint32_t e2 = single[i >> used1];
        const unsigned used2 = std::min(used1 + Drop(e2), kLitTableBits);
        const uint32_t e3 = single[i >> used2];
        const bool two = literal(e1) && literal(e2) && used1 + Drop(e2) <= kLitTableBits && used1 < kLitTableBits;
        const bool three = two && literal(e3) && used2 < kLitTableBits && used2 + Drop(e3) <= kLitTableBits;
        const uint32_t pair = Literal(used2, 2, Bytes(e1) | Bytes(e2) << 8);
        const uint32_t triple = Literal(used2 + Drop(e3), 3, Bytes(e1) | Bytes(e2) << 8 | Bytes(e3) << 16);
        t.lit[i] = three ? triple : two ? pair : e1;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Helpers rather than lambdas, which would not be built for AVX2.
[[gnu::target("avx2")]] inline __m256i Splat(uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
[[gnu::target("avx2")]] inline __m256i Literals(__m256i e)
{
    return _mm256_cmpeq_epi32(_mm256_srli_epi32(e, 30), Splat(1));
}
[[gnu::target("avx2")]] inline __m256i Drops(__m256i e)
{
    return _mm256_and_si256(_mm256_srli_epi32(e, 24), Splat(0x3F));
}

// AddRuns eight entries at a time. A block's gathers read entries below it
// or in it, and those in it before it is stored, so they too read single
// literals.
[[gnu::target("avx2")]] void AddRunsGathered(Tables& t)
{
    const __m256i bits = Splat(kLitTableBits), byte = Splat(0xFF);
    const int* single = reinterpret_cast<const int*>(t.lit);
    for (uint32_t i = 1u << kLitTableBits; i != 0;) {
        i -= 8;
        const __m256i index = _mm256_add_epi32(Splat(i), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
        const __m256i e1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.lit + i));
        const __m256i used1 = _mm256_min_epu32(Drops(e1), bits);
        const __m256i e2 = _mm256_i32gather_epi32(single, _mm256_srlv_epi32(index, used1), 4);
        const __m256i sum1 = _mm256_add_epi32(used1, Drops(e2));
        const __m256i used2 = _mm256_min_epu32(sum1, bits);
        const __m256i e3 = _mm256_i32gather_epi32(single, _mm256_srlv_epi32(index, used2), 4);
        const __m256i sum2 = _mm256_add_epi32(used2, Drops(e3));
        const __m256i two = _mm256_andnot_si256(
            _mm256_cmpgt_epi32(sum1, bits),
            _mm256_and_si256(_mm256_and_si256(Literals(e1), Literals(e2)), _mm256_cmpgt_epi32(bits, used1)));
        const __m256i three = _mm256_andnot_si256(
            _mm256_cmpgt_epi32(sum2, bits),
            _mm256_and_si256(_mm256_and_si256(two, Literals(e3)), _mm256_cmpgt_epi32(bits, used2)));
        // Literal entries hold their byte in bits 0..7; what the others
        // make here is never chosen.
        const __m256i bytes = _mm256_or_si256(_mm256_and_si256(e1, byte),
                                              _mm256_slli_epi32(_mm256_and_si256(e2, byte), 8));
        const __m256i pair = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(used2, 24), Splat(2u << 30)), bytes);
        const __m256i triple = _mm256_or_si256(
            _mm256_or_si256(_mm256_slli_epi32(sum2, 24), Splat(3u << 30)),
            _mm256_or_si256(bytes, _mm256_slli_epi32(_mm256_and_si256(e3, byte), 16)));
        const __m256i joined = _mm256_blendv_epi8(_mm256_blendv_epi8(e1, pair, two), triple, three);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(t.lit + i), joined);
    }
}
#endif

// The literal runs, gathered where the kernels in use allow it.
void JoinLiterals(Tables& t)
{
#if defined(__x86_64__) || defined(__i386__)
    if (ActiveKernels().inflateAvx2)
        return AddRunsGathered(t);
#endif
    AddRuns(t);
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
    FillTable(clLengths, 19, 7, clTable, Alphabet::kCodeLengths);

    uint8_t lengths[kMaxLitLen + kMaxDist] = {};
    const unsigned total = hlit + hdist;
    for (unsigned i = 0; i < total;) {
        in.Refill();
        const uint32_t e = clTable[in.buf & 0x7F];
        in.DropEntry(e);  // a complete code of at most 7 bits has no holes
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
    if (t.builtLit == hlit && t.builtDist == hdist && std::memcmp(t.builtLengths, lengths, total) == 0)
        return true;
    t.builtLit = 0;
    const uint8_t* dist = lengths + hlit;
    if (!Prepare(lengths, hlit, false, t.litCanon) || !Prepare(dist, hdist, true, t.distCanon))
        return false;
    FillTable(lengths, hlit, kLitTableBits, t.lit, Alphabet::kLiterals);
    FillTable(dist, hdist, kDistTableBits, t.dist, Alphabet::kDistances);
    JoinLiterals(t);
    FillSubtables(lengths, hlit, t);
    std::memcpy(t.builtLengths, lengths, total);
    t.builtLit = hlit;
    t.builtDist = hdist;
    return true;
}

// i % d for d and i below 16, so that a short period is laid out
// without divisions.
constexpr auto kPeriodIndex = [] {
    std::array<std::array<uint8_t, 16>, 16> t{};
    for (size_t d = 1; d < 16; ++d) {
        for (size_t i = 0; i < 16; ++i)
            t[d][i] = static_cast<uint8_t>(i % d);
    }
    return t;
}();

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
    } else {
        // A short period (a pixel): one vector holding whole periods,
        // stored again and again with no loads, which would wait on the
        // stores.
        uint8_t pattern[16];
        for (size_t i = 0; i < 16; ++i)
            pattern[i] = from[kPeriodIndex[distance][i]];
        const size_t step = distance * (16 / distance);
        for (size_t i = 0; i < length; i += step)
            std::memcpy(to + i, pattern, 16);
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Byte orders that lay out a period shorter than a vector from its first
// occurrence, and the bytes of whole periods each vector then holds; from
// 16 on the order keeps the bytes where they are.
alignas(16) constexpr auto kPeriodOrder = [] {
    std::array<std::array<uint8_t, 16>, 17> t{};
    for (size_t d = 1; d <= 16; ++d) {
        for (size_t i = 0; i < 16; ++i)
            t[d][i] = static_cast<uint8_t>(d < 16 ? i % d : i);
    }
    return t;
}();
constexpr auto kPeriodStep = [] {
    std::array<uint8_t, 17> t{};
    for (size_t d = 1; d <= 16; ++d)
        t[d] = static_cast<uint8_t>(d * (16 / d));
    return t;
}();

// Copy with room for 32 bytes past the match and 15 before the source's
// end readable. A short period's vector holds whole periods: loaded again
// a step on, from bytes the first store wrote, it is the same vector, so
// the two stores that cover most matches need no test of the distance.
// Longer matches store that vector again, or copy two vectors a step,
// each load reading only bytes an earlier store wrote.
[[gnu::target("ssse3")]] inline void ShuffleCopy(uint8_t* to, size_t distance, size_t length)
{
    const size_t k = distance < 16 ? distance : 16;
    const __m128i order = _mm_load_si128(reinterpret_cast<const __m128i*>(kPeriodOrder[k].data()));
    const size_t step = kPeriodStep[k];
    const uint8_t* from = to - distance;
    const __m128i v = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)), order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), v);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + step),
                     _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + step)), order));
    if (length <= 2 * step)
        return;
    if (distance < 16) {
        for (size_t i = 2 * step; i < length; i += step)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), v);
        return;
    }
    for (size_t i = 32; i < length; i += 32) {
        // The second load may read what the first store wrote.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i + 16),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 16)));
    }
}
#endif

// One lookup's literals (one to three), stored as four bytes whatever
// their number: the caller has room, and later output replaces the spare.
inline void PutLiterals(uint32_t e, uint8_t*& p, BitReader& in)
{
    static_assert(std::endian::native == std::endian::little, "literals are stored as a word");
    std::memcpy(p, &e, 4);
    p += Count(e);
    in.DropEntry(e);
}

constexpr uint64_t kLitMask = (1u << kLitTableBits) - 1;
constexpr uint64_t kDistMask = (1u << kDistTableBits) - 1;

// The literals of up to three lookups, the first being `e` (literals):
// three lookups of at most 12 bits fit one refill, and write at most 9
// bytes and a spare. True when all three were literals; otherwise `e` is
// the entry that was not, none of its bits taken.
[[gnu::always_inline]] inline bool PutLiteralRun(uint32_t& e, const Tables& t, uint8_t*& p,
                                                 BitReader& in)
{
    PutLiterals(e, p, in);
    e = t.lit[in.buf & kLitMask];
    if (Count(e) == 0)
        return false;
    PutLiterals(e, p, in);
    e = t.lit[in.buf & kLitMask];
    if (Count(e) == 0)
        return false;
    PutLiterals(e, p, in);
    return true;
}

// A length's or distance's value: its base and the extra bits after its
// code, all dropped.
inline size_t TakeValue(uint32_t e, BitReader& in)
{
    const uint64_t bits = in.buf & ((uint64_t{1} << Drop(e)) - 1);
    in.DropEntry(e);
    return Value(e) + static_cast<size_t>(bits >> CodeBits(e));
}

// Gives an entry the lookup left to the bit-by-bit path (a code longer
// than it, or one an incomplete code lacks) its symbol, the code dropped.
// False when there is no such code.
inline bool Complete(uint32_t& e, BitReader& in, const Canonical& canon, Alphabet alphabet)
{
    if (Count(e) != 0 || Kind(e) != kSlow)
        return true;
    const int s = DecodeSlowly(in, canon);
    if (s < 0)
        return false;
    e = SymbolEntry(0, static_cast<unsigned>(s), alphabet);
    return true;
}

enum class Step { kMore, kBlockEnd, kBad };

// Decodes one lookup's worth of symbols: up to three lookups of literals,
// or one match, or the end of block. Fails for a bad code, a distance
// before `out`, or output past `end`.
[[gnu::always_inline]] inline Step DecodeStep(BitReader& in, const Tables& t, const uint8_t* out,
                                              uint8_t*& p, uint8_t* end)
{
    in.Refill();
    uint32_t e = t.lit[in.buf & kLitMask];
    if (end - p >= 16 && Count(e) != 0) {
        PutLiteralRun(e, t, p, in);
        return Step::kMore;
    }
    if (Count(e) == 0 && Kind(e) == kSub)
        e = t.sub[Value(e) + ((in.buf >> kLitTableBits) & ((1u << kSubBits) - 1))];
    if (!Complete(e, in, t.litCanon, Alphabet::kLiterals))
        return Step::kBad;
    if (Count(e) != 0) {
        // Near the end: the literals one by one, each checked.
        const unsigned count = Count(e);
        if (static_cast<size_t>(end - p) < count)
            return Step::kBad;
        in.DropEntry(e);
        for (unsigned i = 0; i < count; ++i)
            p[i] = static_cast<uint8_t>(Bytes(e) >> (8 * i));
        p += count;
        return Step::kMore;
    }
    if (Kind(e) != kMatch) {
        in.DropEntry(e);
        return Kind(e) == kEnd ? Step::kBlockEnd : Step::kBad;
    }
    // At least 56 - 20 bits remain: enough for the whole distance.
    const size_t length = TakeValue(e, in);
    e = t.dist[in.buf & kDistMask];
    if (!Complete(e, in, t.distCanon, Alphabet::kDistances) || Kind(e) != kMatch)
        return Step::kBad;
    const size_t distance = TakeValue(e, in);
    if (distance > static_cast<size_t>(p - out) || length > static_cast<size_t>(end - p))
        return Step::kBad;
    Copy(p, distance, length, end);
    p += length;
    return Step::kMore;
}

// What one fast step may read past the input's position and write past
// the output's: the refill before its first lookup, then its own (at most
// three), a DecodeStep's and the next lookup's; two lookups of literals, a
// match and its overrun.
constexpr size_t kFastIn = 5 * 7 + 8;
constexpr size_t kFastOut = 6 + 258 + 32;

inline bool Roomy(const BitReader& in, const uint8_t* p, const uint8_t* end)
{
    return in.end - in.next >= static_cast<ptrdiff_t>(kFastIn) &&
           end - p >= static_cast<ptrdiff_t>(kFastOut);
}

// How far one step moves at most: a fast step's two refills, a
// DecodeStep's after them and the next lookup's; two lookups of literals
// and a match.
constexpr size_t kStepIn = 4 * 7;
constexpr size_t kStepOut = 6 + 258;

// How many steps in a row will each find the room Roomy asks for, so that
// the loop need not ask before each.
inline size_t RoomySteps(const BitReader& in, const uint8_t* p, const uint8_t* end)
{
    if (!Roomy(in, p, end))
        return 0;
    const size_t byIn = (static_cast<size_t>(in.end - in.next) - kFastIn) / kStepIn;
    const size_t byOut = (static_cast<size_t>(end - p) - kFastOut) / kStepOut;
    return std::min(byIn, byOut) + 1;
}

// The literal/length entry at the reader's position; buf must hold at
// least kLitTableBits bits.
inline uint32_t LitEntry(const BitReader& in, const Tables& t) { return t.lit[in.buf & kLitMask]; }

// A first entry for FastStep, where no step has left one: after a
// refill, which the room for a run of steps allows.
inline uint32_t RefilledEntry(BitReader& in, const Tables& t)
{
    in.RefillFast();
    return LitEntry(in, t);
}

// DecodeStep's usual cases with no checks of room, which the caller made:
// literals, or a match of table codes at a distance inside the output.
// `e` is the entry at the reader's position, looked up from bits buf
// already held, so that no lookup waits for the load of a refill before
// it; on success it is the next step's. Returns false, having taken
// nothing after its literals, for anything else, which DecodeStep then
// decodes or declines.
template <bool kShuffle>
[[gnu::always_inline]] inline bool FastStep(BitReader& in, const Tables& t, const uint8_t* out,
                                            uint8_t*& p, uint32_t& e)
{
    in.RefillFast();
    if (Count(e) != 0) {
        if (PutLiteralRun(e, t, p, in)) {
            e = LitEntry(in, t);  // 56 - 3 * 12 bits left at least
            return true;
        }
        // A match needs up to 40 bits, and the next lookup 12.
        in.RefillFast();
    }
    if ((e & kKindMask) != 0)
        return false;
    // A match of table codes takes at most 12 + 5 + 10 + 13 bits, which
    // leaves enough for the next lookup.
    static_assert(56 - (kLitTableBits + 5 + kDistTableBits + 13) >= kLitTableBits);
    const uint64_t buf = in.buf;
    const unsigned count = in.count;
    const size_t length = TakeValue(e, in);
    const uint32_t d = t.dist[in.buf & kDistMask];
    const size_t distance = (d & kKindMask) == 0 ? TakeValue(d, in) : 0;
    if (distance == 0 || distance > static_cast<size_t>(p - out)) {
        in.buf = buf;  // the match is left to DecodeStep
        in.count = count;
        return false;
    }
    // Never taken, by the assertion above, but it keeps the lookup sound
    // where it stands, and GCC builds a faster loop with it than without.
    if (in.Held() < kLitTableBits)
        in.RefillFast();
    e = LitEntry(in, t);
#if defined(__x86_64__) || defined(__i386__)
    if constexpr (kShuffle) {
        ShuffleCopy(p, distance, length);
        p += length;
        return true;
    }
#endif
    Copy(p, distance, length, p + length + 16);
    p += length;
    return true;
}

template <bool kShuffle>
[[gnu::always_inline]] inline Step Next(BitReader& in, const Tables& t, const uint8_t* out, uint8_t*& p,
                                        uint8_t* end)
{
    if (Roomy(in, p, end)) {
        uint32_t e = RefilledEntry(in, t);
        if (FastStep<kShuffle>(in, t, out, p, e))
            return Step::kMore;
    }
    return DecodeStep(in, t, out, p, end);
}

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
        FillTable(lengths, kLitLenCodes, kLitTableBits, t->lit, Alphabet::kLiterals);
        FillTable(lengths + kLitLenCodes, 32, kDistTableBits, t->dist, Alphabet::kDistances);
        AddRuns(*t);
        FillSubtables(lengths, kLitLenCodes, *t);
        return t;
    }();
    return *fixed;
}

// One band on its way: the blocks are read one after another, and the
// symbols of a Huffman block may be taken a few at a time.
struct Inflation {
    enum State { kBlockStart, kSymbols, kDone, kFailed };

    BitReader in;
    uint8_t* out;
    uint8_t* p;
    uint8_t* end;
    bool last;       // ends with a final block; else no final block, and input ends with a block
    Tables* dynamic; // where this band's dynamic codes go
    const Tables* t = nullptr;
    State state = kBlockStart;
    bool finalBlock = false;
    size_t blockBit = 0;

    Inflation(const uint8_t* data, size_t size, bool lastBand, uint8_t* to, size_t outSize, Tables* tables)
        : in{data, data, data + size}, out(to), p(to), end(to + outSize), last(lastBand), dynamic(tables)
    {
    }

    // After a block: the band ends with its final block (then less than a
    // byte of padding), or, before the last band, exactly at the input's end.
    void BlockDone()
    {
        if (in.Overrun()) {
            state = kFailed;
        } else if (finalBlock) {
            state = p == end && in.BitsLeft() < 8 ? kDone : kFailed;
        } else if (!last && in.BitsLeft() == 0) {
            state = p == end ? kDone : kFailed;
        } else {
            state = kBlockStart;
        }
    }

    // Reads block headers and stored blocks until a Huffman block's symbols
    // are next, or the band is done or has failed.
    void Advance()
    {
        while (state == kBlockStart) {
            in.Refill();
            blockBit = in.Position();
            finalBlock = in.Take(1) != 0;
            const uint32_t type = in.Take(2);
            if (in.Overrun() || (finalBlock && !last)) {
                state = kFailed;
            } else if (type == 0) {
                in.Drop(in.count & 7);
                in.Refill();
                const uint32_t length = in.Take(16), check = in.Take(16);
                const size_t from = in.Position() / 8;
                const size_t inSize = static_cast<size_t>(in.end - in.begin);
                if (in.Overrun() || length != (~check & 0xFFFF) || length > inSize - from ||
                    length > static_cast<size_t>(end - p)) {
                    state = kFailed;
                    return;
                }
                std::memcpy(p, in.begin + from, length);
                p += length;
                in.Seek(from + length);
                BlockDone();
            } else if (type == 1) {
                t = &FixedTables();
                state = kSymbols;
            } else if (type == 2 && ReadCodes(in, *dynamic)) {
                t = dynamic;
                state = kSymbols;
            } else {
                state = kFailed;
            }
        }
    }

    void Ended(Step step)
    {
        if (step == Step::kBad)
            state = kFailed;
        else
            BlockDone();
    }
};

// The rest of one band's block.
template <bool kShuffle>
void ReadSymbolsWith(Inflation& band)
{
    // Locals: stores through byte pointers could alias members.
    BitReader in = band.in;
    uint8_t* p = band.p;
    const Tables& t = *band.t;
    Step step = Step::kMore;
    do {
        size_t k = RoomySteps(in, p, band.end);
        if (k == 0) {
            step = Next<kShuffle>(in, t, band.out, p, band.end);
            continue;
        }
        uint32_t e = RefilledEntry(in, t);
        for (; k != 0; --k) {
            if (FastStep<kShuffle>(in, t, band.out, p, e))
                continue;
            if ((step = DecodeStep(in, t, band.out, p, band.end)) != Step::kMore)
                break;
            e = RefilledEntry(in, t);
        }
    } while (step == Step::kMore);
    band.in = in;
    band.p = p;
    band.Ended(step);
}

// Two bands' blocks in turn, until either block ends.
template <bool kShuffle>
void ReadSymbolsWith(Inflation& a, Inflation& b)
{
    BitReader inA = a.in, inB = b.in;
    uint8_t *pA = a.p, *pB = b.p;
    const Tables &tA = *a.t, &tB = *b.t;
    Step stepA = Step::kMore, stepB = Step::kMore;
    do {
        size_t k = std::min(RoomySteps(inA, pA, a.end), RoomySteps(inB, pB, b.end));
        if (k == 0) {
            // Near either end: each step tested.
            stepA = Next<kShuffle>(inA, tA, a.out, pA, a.end);
            if (stepA != Step::kMore)
                break;
            stepB = Next<kShuffle>(inB, tB, b.out, pB, b.end);
            continue;
        }
        uint32_t eA = RefilledEntry(inA, tA), eB = RefilledEntry(inB, tB);
        for (; k != 0; --k) {
            if (!FastStep<kShuffle>(inA, tA, a.out, pA, eA)) {
                if ((stepA = DecodeStep(inA, tA, a.out, pA, a.end)) != Step::kMore)
                    break;
                eA = RefilledEntry(inA, tA);
            }
            if (!FastStep<kShuffle>(inB, tB, b.out, pB, eB)) {
                if ((stepB = DecodeStep(inB, tB, b.out, pB, b.end)) != Step::kMore)
                    break;
                eB = RefilledEntry(inB, tB);
            }
        }
    } while (stepA == Step::kMore && stepB == Step::kMore);
    a.in = inA;
    a.p = pA;
    b.in = inB;
    b.p = pB;
    if (stepA != Step::kMore)
        a.Ended(stepA);
    if (stepB != Step::kMore)
        b.Ended(stepB);
}

// Which build of the symbol loop the kernels in use allow.
enum class Loop { kPlain, kShuffle, kShuffleBmi2 };

Loop LoopInUse()
{
    const FastKernels& k = ActiveKernels();
    return k.inflateAvx2 ? Loop::kShuffleBmi2 : k.shuffleCopies ? Loop::kShuffle : Loop::kPlain;
}

#if defined(__x86_64__) || defined(__i386__)
// The vector copy inlines only into code built for it.
[[gnu::target("ssse3"), gnu::flatten]] void ReadSymbolsShuffled(Inflation& band)
{
    ReadSymbolsWith<true>(band);
}
[[gnu::target("ssse3"), gnu::flatten]] void ReadSymbolsShuffled(Inflation& a, Inflation& b)
{
    ReadSymbolsWith<true>(a, b);
}
// BMI2's shifts take their count from any register, which spares the loop
// its moves into CL.
[[gnu::target("ssse3,bmi2"), gnu::flatten]] void ReadSymbolsBmi2(Inflation& band)
{
    ReadSymbolsWith<true>(band);
}
[[gnu::target("ssse3,bmi2"), gnu::flatten]] void ReadSymbolsBmi2(Inflation& a, Inflation& b)
{
    ReadSymbolsWith<true>(a, b);
}
#endif

void ReadSymbols(Inflation& band, Loop loop)
{
#if defined(__x86_64__) || defined(__i386__)
    if (loop == Loop::kShuffleBmi2)
        return ReadSymbolsBmi2(band);
    if (loop == Loop::kShuffle)
        return ReadSymbolsShuffled(band);
#endif
    ReadSymbolsWith<false>(band);
}

void ReadSymbols(Inflation& a, Inflation& b, Loop loop)
{
#if defined(__x86_64__) || defined(__i386__)
    if (loop == Loop::kShuffleBmi2)
        return ReadSymbolsBmi2(a, b);
    if (loop == Loop::kShuffle)
        return ReadSymbolsShuffled(a, b);
#endif
    ReadSymbolsWith<false>(a, b);
}

void Finish(Inflation& band, Loop loop)
{
    for (band.Advance(); band.state == Inflation::kSymbols; band.Advance())
        ReadSymbols(band, loop);
}

thread_local Tables dynamicTables[2];

} // namespace

bool InflateOwnBand(const uint8_t* in, size_t inSize, bool last, uint8_t* out, size_t outSize)
{
    Inflation band(in, inSize, last, out, outSize, &dynamicTables[0]);
    Finish(band, LoopInUse());
    return band.state == Inflation::kDone;
}

void InflateOwnBands(const OwnBand& a, const OwnBand& b, bool ok[2])
{
    Inflation first(a.in, a.inSize, a.last, a.out, a.outSize, &dynamicTables[0]);
    Inflation second(b.in, b.inSize, b.last, b.out, b.outSize, &dynamicTables[1]);
    const Loop loop = LoopInUse();
    first.Advance();
    second.Advance();
    while (first.state == Inflation::kSymbols && second.state == Inflation::kSymbols) {
        ReadSymbols(first, second, loop);
        first.Advance();
        second.Advance();
    }
    Finish(first, loop);
    Finish(second, loop);
    ok[0] = first.state == Inflation::kDone;
    ok[1] = second.state == Inflation::kDone;
}

bool InflateStream(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize,
                   StreamEnd& streamEnd)
{
    Inflation stream(in, inSize, true, out, outSize, &dynamicTables[0]);
    Finish(stream, LoopInUse());
    streamEnd.finalBlockBit = stream.blockBit;
    streamEnd.endBit = stream.in.Position();
    return stream.state == Inflation::kDone;
}

} // namespace pngcore

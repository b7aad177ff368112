#include "platform/png/match_coder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "platform/png/scratch.h"

namespace pngcore {

namespace {

// 8 Ki entries of 4 bytes: the table stays in the level-1 cache, and a
// larger one finds little more on filtered images.
constexpr unsigned kHashBits = 13;
constexpr size_t kWindow = 32768;
constexpr size_t kMaxMatch = 258;
constexpr unsigned kMaxCodeBits = 15;
// Matches this long or longer are taken without looking one pixel further.
constexpr size_t kLazyBelow = 32;
// Matches this long or longer record only their last positions.
constexpr size_t kRecordAll = 32;
// What a block header takes, near enough for estimates.
constexpr uint64_t kHeaderBits = 500;

struct LengthSymbols {
    uint16_t symbol[kMaxMatch + 1];
    uint8_t extraBits[kMaxMatch + 1];
    uint16_t base[kMaxMatch + 1];
};

constexpr LengthSymbols MakeLengthSymbols()
{
    constexpr uint16_t kBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    constexpr uint8_t kExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    LengthSymbols t{};
    for (unsigned s = 0; s < 29; ++s) {
        const unsigned last = s == 28 ? 258 : kBase[s] + (1u << kExtra[s]) - 1;
        for (unsigned len = kBase[s]; len <= last && len <= kMaxMatch; ++len) {
            t.symbol[len] = static_cast<uint16_t>(257 + s);
            t.extraBits[len] = kExtra[s];
            t.base[len] = kBase[s];
        }
    }
    return t;
}
constexpr LengthSymbols kLengths = MakeLengthSymbols();

constexpr uint16_t kDistBase[kDistSymbols] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};

inline unsigned DistSymbol(uint32_t distance)
{
    const uint32_t x = distance - 1;
    if (x < 4)
        return x;
    const unsigned top = static_cast<unsigned>(std::bit_width(x)) - 1;
    return 2 * top + ((x >> (top - 1)) & 1);
}

inline unsigned DistExtraBits(unsigned symbol) { return symbol < 4 ? 0 : symbol / 2 - 1; }

inline uint32_t Load32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline uint64_t Load64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Far matches shorter than this almost never beat the literals of small
// residuals, so the hash looks at this many bytes.
constexpr size_t kFarMinMatch = 8;
constexpr uint64_t kFarMask = ~uint64_t{0};

inline uint32_t HashFar(uint64_t v)
{
    return static_cast<uint32_t>(((v & kFarMask) * 0x9E3779B97F4A7C15ull) >> (64 - kHashBits));
}

struct SymbolTally {
    uint64_t litlen[kLitLenSymbols];
    uint64_t dist[kDistSymbols];
};

inline uint32_t Tally(uint32_t (*part)[257], size_t k, uint32_t item)
{
    ++part[k][std::min<uint32_t>(item, 256)];
    return item;
}

// Symbol counts of `count` items, end of block included. Four literal
// tables keep runs of one value from waiting on a single counter.
void CountSymbols(const uint32_t* items, size_t count, SymbolTally& tally)
{
    uint32_t part[4][257] = {};
    std::fill(std::begin(tally.litlen), std::end(tally.litlen), 0);
    std::fill(std::begin(tally.dist), std::end(tally.dist), 0);
    const auto match = [&](uint32_t item) {
        if (item >= 256) {
            ++tally.litlen[kLengths.symbol[item >> 16]];
            ++tally.dist[DistSymbol(item & 0xFFFF)];
        }
    };
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        for (size_t k = 0; k < 4; ++k)
            match(Tally(part, k, items[i + k]));
    }
    for (; i < count; ++i)
        match(Tally(part, 0, items[i]));
    for (unsigned b = 0; b < 256; ++b)
        tally.litlen[b] = uint64_t{part[0][b]} + part[1][b] + part[2][b] + part[3][b];
    tally.litlen[kEndOfBlock] = 1;
}

// Bytes equal from `from` on (earlier ones at `to`), stopping at `end`.
inline size_t Extend(const uint8_t* to, const uint8_t* from, const uint8_t* end)
{
    const uint8_t* const start = from;
    while (end - from >= 8) {
        const uint64_t diff = Load64(to) ^ Load64(from);
        if (diff != 0)
            return static_cast<size_t>(from - start) + (std::countr_zero(diff) >> 3);
        to += 8;
        from += 8;
    }
    while (from < end && *to == *from) {
        ++to;
        ++from;
    }
    return static_cast<size_t>(from - start);
}

// Optimal code lengths for the symbols with a count (at least two get a
// code), none longer than kMaxCodeBits: Huffman's construction with two
// queues over the sorted leaves; when it runs too deep, the counts are
// flattened and it runs again.
void LimitedLengths(const uint64_t* counts, size_t n, uint8_t* lengths)
{
    struct Leaf {
        uint64_t weight;
        uint16_t symbol;
    };
    Leaf leaves[kLitLenSymbols];
    size_t m = 0;
    for (size_t s = 0; s < n; ++s) {
        if (counts[s] != 0)
            leaves[m++] = {counts[s], static_cast<uint16_t>(s)};
    }
    for (size_t s = 0; m < 2; ++s) {
        if (counts[s] == 0)
            leaves[m++] = {1, static_cast<uint16_t>(s)};
    }
    std::fill_n(lengths, n, 0);
    std::sort(leaves, leaves + m, [](const Leaf& a, const Leaf& b) {
        return a.weight != b.weight ? a.weight < b.weight : a.symbol < b.symbol;
    });
    uint64_t weight[2 * kLitLenSymbols];
    uint16_t parent[2 * kLitLenSymbols];
    uint8_t depth[2 * kLitLenSymbols];
    while (true) {
        for (size_t i = 0; i < m; ++i)
            weight[i] = leaves[i].weight;
        size_t leaf = 0, inner = m;
        for (size_t next = m; next < 2 * m - 1; ++next) {
            size_t pick[2];
            for (size_t& p : pick) {
                if (leaf < m && (inner >= next || weight[leaf] <= weight[inner]))
                    p = leaf++;
                else
                    p = inner++;
            }
            weight[next] = weight[pick[0]] + weight[pick[1]];
            parent[pick[0]] = parent[pick[1]] = static_cast<uint16_t>(next);
        }
        const size_t root = 2 * m - 2;
        depth[root] = 0;
        unsigned deepest = 0;
        for (size_t i = root; i-- > 0;) {
            depth[i] = static_cast<uint8_t>(depth[parent[i]] + 1);
            deepest = std::max<unsigned>(deepest, depth[i]);
        }
        if (deepest <= kMaxCodeBits) {
            for (size_t i = 0; i < m; ++i)
                lengths[leaves[i].symbol] = depth[i];
            return;
        }
        // Leaves stay sorted: flattening keeps their order.
        for (size_t i = 0; i < m; ++i)
            leaves[i].weight = (leaves[i].weight >> 2) + 1;
    }
}

// Rough bits of a match: length and distance symbols of middling
// length, and their extra bits.
inline unsigned MatchBits(size_t length, size_t distance)
{
    const unsigned dsym = DistSymbol(static_cast<uint32_t>(distance));
    return 7 + kLengths.extraBits[length] + 5 + DistExtraBits(dsym);
}

// True when the match looks cheaper than its bytes as literals. Small
// residuals repeat by chance, so short matches often do not pay.
inline bool Pays(const uint8_t* p, size_t length, size_t distance, const uint8_t* literalBits)
{
    if (length >= 16)
        return true;
    unsigned literals = 0;
    for (size_t i = 0; i < length; ++i)
        literals += literalBits[p[i]];
    return literals > MatchBits(length, distance);
}

struct Match {
    size_t length = 0;
    size_t distance = 0;
};

// The hash table holds, per bucket, the latest position and two of its
// bytes, so most misses are told without touching the window.
class MatchFinder {
public:
    // Starts on a new piece, forgetting every earlier one.
    void Reset(const uint8_t* data, size_t size, size_t pixelBytes, size_t rowBytes)
    {
        data_ = data;
        end_ = data + size;
        pixel_ = pixelBytes;
        row_ = rowBytes <= kWindow ? rowBytes : 0;
        std::fill(table_.begin(), table_.end(), Entry{0, 0});
    }

    // The best match at p (at least 8 bytes before the end), recording p.
    Match Find(const uint8_t* p)
    {
        const size_t pos = static_cast<size_t>(p - data_);
        const uint64_t cur = Load64(p);
        const uint8_t* limit = end_ - p > static_cast<ptrdiff_t>(kMaxMatch) ? p + kMaxMatch : end_;
        Match best;
        if (pos >= pixel_ && static_cast<uint32_t>(Load64(p - pixel_) ^ cur) == 0) {
            best.length = 4 + Extend(p - pixel_ + 4, p + 4, limit);
            best.distance = pixel_;
        }
        if (row_ != 0 && pos >= row_ && ((Load64(p - row_) ^ cur) & kFarMask) == 0)
            Consider(best, kFarMinMatch + Extend(p - row_ + kFarMinMatch, p + kFarMinMatch, limit), row_);
        Entry& slot = table_[HashFar(cur)];
        // The latest position with these low 16 bits: right unless the
        // entry is older than that, and then the bytes decide.
        const size_t distance = static_cast<uint16_t>(pos - slot.pos);
        const size_t candidate = pos - distance;
        const uint16_t tag = static_cast<uint16_t>(cur >> 16);
        const bool hit = slot.tag == tag && distance - 1 < kWindow;
        slot = {static_cast<uint16_t>(pos), tag};
        if (hit && ((Load64(data_ + candidate) ^ cur) & kFarMask) == 0) {
            const size_t length = kFarMinMatch +
                                  Extend(data_ + candidate + kFarMinMatch, p + kFarMinMatch, limit);
            Consider(best, length, pos - candidate);
        }
        return best;
    }

    // Records p without looking for a match.
    void Insert(const uint8_t* p)
    {
        const uint64_t cur = Load64(p);
        table_[HashFar(cur)] = {static_cast<uint16_t>(p - data_), static_cast<uint16_t>(cur >> 16)};
    }

private:
    struct Entry {
        uint16_t pos;  // low bits of the position
        uint16_t tag;  // bytes 2 and 3
    };

    // A longer match wins unless it is only a byte longer and farther.
    static void Consider(Match& best, size_t length, size_t distance)
    {
        if (length > best.length + 1 || (length > best.length && distance < best.distance))
            best = {length, distance};
    }

    const uint8_t* data_ = nullptr;
    const uint8_t* end_ = nullptr;
    size_t pixel_ = 0;
    size_t row_ = 0;
    std::array<Entry, size_t{1} << kHashBits> table_;
};

} // namespace

void MatchParse::Reserve(size_t more)
{
    if (capacity - count >= more)
        return;
    const size_t want = count + more;
    std::unique_ptr<uint32_t[]> grown(new uint32_t[want]);
    if (count != 0)
        std::memcpy(grown.get(), items.get(), count * sizeof(uint32_t));
    items = std::move(grown);
    capacity = want;
}

void ParseMatches(const uint8_t* data, size_t size, size_t pixelBytes, size_t rowBytes,
                  const uint8_t* literalBits, MatchParse& parse)
{
    static ScratchShelf<MatchFinder> finders;
    const auto finder = finders.Take();
    finder->Reset(data, size, pixelBytes, rowBytes);
    parse.Reserve(size);
    // Pictures repeat in whole pixels, so matches are looked for, and
    // positions recorded, only where a pixel starts within its row (after
    // the filter byte); a match found there grows backwards over the
    // literals before it. For RGB that is a third of the probes.
    static ScratchShelf<std::vector<uint8_t>> columns;
    const auto columnLease = columns.Take();
    std::vector<uint8_t>& pixelStart = *columnLease;
    pixelStart.assign(rowBytes, 0);
    for (size_t c = 1; c < rowBytes; c += pixelBytes)
        pixelStart[c] = 1;
    size_t column = 0;  // of p in its row
    uint32_t* const first = parse.items.get() + parse.count;
    uint32_t* out = first;
    const uint8_t* const end = data + size;
    const uint8_t* p = data;
    const uint8_t* literals = data;  // the first literal since the last match
    const auto literal = [&] {
        *out++ = *p++;
        if (++column == rowBytes)
            column = 0;
    };
    // The match found at q, grown backwards as far as the literals go.
    struct Found {
        const uint8_t* start;
        size_t length;
        size_t distance;
    };
    const auto findAt = [&](const uint8_t* q) {
        const Match m = finder->Find(q);
        Found f{q, m.length, m.distance};
        if (m.length == 0)
            return f;
        const size_t room = std::min(static_cast<size_t>(q - data) - m.distance,
                                     static_cast<size_t>(q - literals));
        size_t back = 0;
        while (back < room && m.length + back < kMaxMatch &&
               q[-1 - static_cast<ptrdiff_t>(back)] ==
                   q[-1 - static_cast<ptrdiff_t>(back + m.distance)])
            ++back;
        f.start -= back;
        f.length += back;
        return f;
    };
    const auto pays = [&](const Found& f) {
        return f.length != 0 && Pays(f.start, f.length, f.distance, literalBits);
    };
    // Matches are looked for while 8 bytes remain; the last few go out as
    // literals.
    while (end - p >= 8) {
        if (pixelStart[column] == 0) {
            literal();
            continue;
        }
        Found m = findAt(p);
        if (!pays(m)) {
            literal();
            continue;
        }
        // One step of lazy matching: a longer match at the next byte wins.
        const uint8_t* next = p + 1;
        if (m.length < kLazyBelow && end - next >= 8) {
            const Found later = findAt(next);
            if (later.length > m.length + 1 && pays(later))
                m = later;
        }
        // Literals up to the match's start; those it grew over are taken back.
        for (; p < m.start; ++p)
            *out++ = *p;
        out -= p - m.start;
        p = m.start;
        column = static_cast<size_t>(p - data) % rowBytes;
        *out++ = static_cast<uint32_t>(m.length << 16 | m.distance);
        // Positions inside short matches are recorded too: on smooth
        // content the next repeat often starts there. Inside long ones
        // (screens) that would cost more than it finds; the last few do.
        const uint8_t* const stop = p + m.length;
        if (m.length < kRecordAll) {
            size_t c = column;
            for (const uint8_t* q = p + 1; q < stop && end - q >= 8; ++q) {
                if (++c == rowBytes)
                    c = 0;
                if (pixelStart[c] != 0)
                    finder->Insert(q);
            }
        } else {
            for (const uint8_t* q = stop - 4; q < stop && end - q >= 8; ++q)
                finder->Insert(q);
        }
        p = stop;
        column = static_cast<size_t>(p - data) % rowBytes;
        literals = p;
    }
    while (p < end)
        *out++ = *p++;
    parse.count += static_cast<size_t>(out - first);
}

namespace {

// A block's code, fitted to its counts.
struct DynamicCode {
    uint8_t litlenLength[kLitLenSymbols];
    uint8_t distLength[kDistSymbols];
    uint32_t litlenCode[kLitLenSymbols];
    uint32_t distCode[kDistSymbols];
};

void BuildCode(const SymbolTally& tally, DynamicCode& code)
{
    LimitedLengths(tally.litlen, kLitLenSymbols, code.litlenLength);
    LimitedLengths(tally.dist, kDistSymbols, code.distLength);
    CanonicalCodes(code.litlenLength, kLitLenSymbols, code.litlenCode);
    CanonicalCodes(code.distLength, kDistSymbols, code.distCode);
}

uint64_t TallyBits(const SymbolTally& tally, const DynamicCode& code)
{
    uint64_t bits = 0;
    for (unsigned s = 0; s < kLitLenSymbols; ++s) {
        const unsigned extra = s >= 265 && s < 285 ? (s - 261) / 4 : 0;
        bits += tally.litlen[s] * (code.litlenLength[s] + extra);
    }
    for (unsigned s = 0; s < kDistSymbols; ++s)
        bits += tally.dist[s] * (code.distLength[s] + DistExtraBits(s));
    return bits;
}

void WriteBlock(const uint32_t* items, size_t count, const DynamicCode& code, BitWriter& to,
                bool final)
{
    // A local writer stays in registers: stores through the caller's could
    // alias it.
    BitWriter writer = to;
    unsigned hlit = kLitLenSymbols, hdist = kDistSymbols;
    while (hlit > 257 && code.litlenLength[hlit - 1] == 0)
        --hlit;
    while (hdist > 1 && code.distLength[hdist - 1] == 0)
        --hdist;
    WriteDynamicHeader(code.litlenLength, hlit, code.distLength, hdist, writer, final);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t item = items[i];
        if (item < 256) {
            // Literals come in runs: two to a put where they can.
            uint64_t bits = code.litlenCode[item];
            unsigned n = code.litlenLength[item];
            if (i + 1 < count && items[i + 1] < 256) {
                ++i;
                bits |= uint64_t{code.litlenCode[items[i]]} << n;
                n += code.litlenLength[items[i]];
            }
            writer.Put(bits, n);
            continue;
        }
        const uint32_t length = item >> 16, distance = item & 0xFFFF;
        const unsigned lsym = kLengths.symbol[length];
        uint64_t bits = code.litlenCode[lsym] |
                        (uint64_t{length - kLengths.base[length]} << code.litlenLength[lsym]);
        unsigned n = code.litlenLength[lsym] + kLengths.extraBits[length];
        const unsigned dsym = DistSymbol(distance);
        bits |= (code.distCode[dsym] | (uint64_t{distance - kDistBase[dsym]} << code.distLength[dsym]))
                << n;
        n += code.distLength[dsym] + DistExtraBits(dsym);
        writer.Put(bits, n);
    }
    writer.Put(code.litlenCode[kEndOfBlock], code.litlenLength[kEndOfBlock]);
    to = writer;
}

} // namespace

// One block per parse: on these frames codes fitted to a few rows at a
// time gained less than their headers cost.
uint64_t CodedBits(const MatchParse& parse)
{
    SymbolTally tally;
    CountSymbols(parse.items.get(), parse.count, tally);
    DynamicCode code;
    BuildCode(tally, code);
    return kHeaderBits + TallyBits(tally, code);
}

void WriteParse(const MatchParse& parse, BitWriter& writer, bool final)
{
    SymbolTally tally;
    CountSymbols(parse.items.get(), parse.count, tally);
    DynamicCode code;
    BuildCode(tally, code);
    WriteBlock(parse.items.get(), parse.count, code, writer, final);
}

} // namespace pngcore

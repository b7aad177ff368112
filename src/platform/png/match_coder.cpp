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
// Matches this long or longer are taken without judging their cost.
constexpr size_t kAlwaysPays = 9;
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
// residuals repeat by chance, so short matches often do not pay; from
// kAlwaysPays bytes on they are taken unjudged, which on smooth photographs
// gave fewer bytes and a faster parse (the estimate of a match's bits runs
// high), while rendered frames showed 8-byte ones that did not pay.
// Where 8 bytes can be read, all are, and those past the match count
// nothing: a loop of fixed length is not mispredicted at its end.
inline bool Pays(const uint8_t* p, size_t length, size_t distance, const uint8_t* literalBits,
                 const uint8_t* end)
{
    if (length >= kAlwaysPays)
        return true;
    unsigned literals = 0;
    if (end - p >= 8) {
        for (size_t i = 0; i < 8; ++i)
            literals += i < length ? literalBits[p[i]] : 0;
    } else {
        for (size_t i = 0; i < length; ++i)
            literals += literalBits[p[i]];
    }
    return literals > MatchBits(length, distance);
}

// How far the match at data + pos grows backwards, at most `room` bytes,
// compared a word at a time.
inline size_t GrowBack(const uint8_t* data, size_t pos, size_t distance, size_t room)
{
    const uint8_t* const p = data + pos;
    size_t back = 0;
    while (back < room) {
        if (pos - back < distance + 8) {  // too near the start for a word
            while (back < room && p[-1 - static_cast<ptrdiff_t>(back)] ==
                                      p[-1 - static_cast<ptrdiff_t>(back + distance)])
                ++back;
            break;
        }
        const uint64_t diff = Load64(p - back - 8) ^ Load64(p - back - 8 - distance);
        const size_t equal = std::min<size_t>(static_cast<size_t>(std::countl_zero(diff)) >> 3, room - back);
        back += equal;
        if (equal < 8)
            break;
    }
    return back;
}

struct Match {
    size_t length = 0;
    size_t distance = 0;
};

// The hash table holds, per bucket, the latest position and two of its
// bytes, so most misses are told without touching the window.
class MatchFinder {
public:
    // Starts on a new piece, forgetting every earlier one; no row distance
    // is tried where `rowBytes` is 0.
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

void MatchParse::Clear()
{
    count = 0;
    pieces.clear();
    std::memset(literalCounts, 0, sizeof literalCounts);
    std::memset(litlenCounts, 0, sizeof litlenCounts);
    std::memset(distCounts, 0, sizeof distCounts);
}

void MatchParse::Reserve(size_t more)
{
    if (capacity - count >= more)
        return;
    const size_t want = count + more;
    std::unique_ptr<Sequence[]> grown(new Sequence[want]);
    if (count != 0)
        std::memcpy(grown.get(), sequences.get(), count * sizeof(Sequence));
    sequences = std::move(grown);
    capacity = want;
}

namespace {

// Distances from each column of a row (the filter byte is column 0) to the
// next pixel start: `atOrAfter` counts 0 at a pixel start, `after` never
// does. Past the row's last pixel the next start is the next row's first.
struct PixelSteps {
    std::vector<uint8_t> atOrAfter;
    std::vector<uint8_t> after;

    void Fill(size_t pixelBytes, size_t rowBytes)
    {
        atOrAfter.resize(rowBytes);
        after.resize(rowBytes);
        for (size_t c = 0; c < rowBytes; ++c) {
            const size_t into = c == 0 ? pixelBytes - 1 : (c - 1) % pixelBytes;
            const size_t next = c + pixelBytes - into;
            after[c] = static_cast<uint8_t>(next < rowBytes ? next - c : rowBytes - c + 1);
            atOrAfter[c] = c != 0 && into == 0 ? 0 : after[c];
        }
    }
};

// Counts a run of literals that a match follows: four at a time, those
// past its end sent to the unused entries, so that only the loop's end can
// be mispredicted. Reading at most three past the run stays inside the
// match after it.
inline void CountRun(const uint8_t* p, size_t run, uint64_t (*counts)[512])
{
    for (size_t k = 0; k < run; k += 4) {
        for (size_t j = 0; j < 4; ++j)
            ++counts[j][p[k + j] | size_t{k + j >= run} << 8];
    }
}

// The parse's own way in, kept inline there.
inline void AddSequence(MatchParse& parse, const uint8_t* literals, uint32_t run, uint16_t length,
                        uint16_t distance)
{
    parse.sequences[parse.count++] = {run, length, distance};
    if (length != 0) {
        CountRun(literals, run, parse.literalCounts);
        ++parse.litlenCounts[kLengths.symbol[length]];
        ++parse.distCounts[DistSymbol(distance)];
        return;
    }
    // The last run has nothing after it to read into: whole fours, then
    // the rest one by one.
    const uint32_t fours = run & ~uint32_t{3};
    CountRun(literals, fours, parse.literalCounts);
    for (uint32_t k = fours; k < run; ++k)
        ++parse.literalCounts[0][literals[k]];
}

} // namespace

void AppendSequence(MatchParse& parse, const uint8_t* literals, uint32_t run, uint16_t length,
                    uint16_t distance)
{
    AddSequence(parse, literals, run, length, distance);
}

void ParseMatches(const uint8_t* data, size_t size, size_t pixelBytes, size_t rowBytes,
                  const uint8_t* literalBits, MatchParse& parse, bool rowDistance)
{
    static ScratchShelf<MatchFinder> finders;
    const auto finder = finders.Take();
    finder->Reset(data, size, pixelBytes, rowDistance ? rowBytes : 0);
    // Every match covers at least four bytes.
    parse.Reserve(size / 4 + 1);
    parse.pieces.push_back(data);
    // Pictures repeat in whole pixels, so matches are looked for, and
    // positions recorded, only where a pixel starts within its row; a match
    // found there grows backwards over the literals before it. For RGB that
    // is a third of the probes, and the bytes between are stepped over.
    static ScratchShelf<PixelSteps> stepShelf;
    const auto stepLease = stepShelf.Take();
    PixelSteps& steps = *stepLease;
    steps.Fill(pixelBytes, rowBytes);
    size_t pos = 0, column = 0;  // column of pos in its row
    size_t literals = 0;         // the first literal since the last match
    const auto step = [&](size_t bytes) {
        pos += bytes;
        column += bytes;
        while (column >= rowBytes)
            column -= rowBytes;
    };
    // The next pixel start: a pixel further, but for the row's end.
    const auto nextPixel = [&] {
        if (column + pixelBytes < rowBytes) {
            pos += pixelBytes;
            column += pixelBytes;
        } else {
            step(steps.after[column]);
        }
    };
    step(steps.atOrAfter[0]);
    // Matches are looked for while 8 bytes remain; the last few go out as
    // literals.
    while (pos + 8 <= size) {
        const uint8_t* const p = data + pos;
        const Match m = finder->Find(p);
        if (m.length == 0) {
            nextPixel();
            continue;
        }
        const size_t room = std::min({pos - m.distance, pos - literals, kMaxMatch - m.length});
        const size_t back = GrowBack(data, pos, m.distance, room);
        const size_t start = pos - back, length = m.length + back;
        if (!Pays(data + start, length, m.distance, literalBits, data + size)) {
            nextPixel();
            continue;
        }
        AddSequence(parse, data + literals, static_cast<uint32_t>(start - literals),
                    static_cast<uint16_t>(length), static_cast<uint16_t>(m.distance));
        // Positions inside short matches are recorded too: on smooth
        // content the next repeat often starts there. Inside long ones
        // (screens) that would cost more than it finds; the last few do.
        // Either way the parse goes on at the first pixel start from the
        // match's end.
        const size_t stop = start + length;
        if (length < kRecordAll) {
            nextPixel();
            while (pos < stop) {
                if (pos + 8 <= size)
                    finder->Insert(data + pos);
                nextPixel();
            }
        } else {
            for (size_t q = stop - 4; q < stop && q + 8 <= size; ++q)
                finder->Insert(data + q);
            step(stop - pos);
            step(steps.atOrAfter[column]);
        }
        literals = stop;
    }
    AddSequence(parse, data + literals, static_cast<uint32_t>(size - literals), 0, 0);
}

namespace {

// A block's code, fitted to its counts.
struct DynamicCode {
    uint8_t litlenLength[kLitLenSymbols];
    uint8_t distLength[kDistSymbols];
    uint32_t litlenCode[kLitLenSymbols];
    uint32_t distCode[kDistSymbols];
};

// The parse's counts, end of block included.
void TallyParse(const MatchParse& parse, SymbolTally& tally)
{
    for (unsigned s = 0; s < kLitLenSymbols; ++s)
        tally.litlen[s] = parse.litlenCounts[s];
    for (unsigned b = 0; b < 256; ++b) {
        tally.litlen[b] = parse.literalCounts[0][b] + parse.literalCounts[1][b] +
                          parse.literalCounts[2][b] + parse.literalCounts[3][b];
    }
    tally.litlen[kEndOfBlock] = 1;
    for (unsigned s = 0; s < kDistSymbols; ++s)
        tally.dist[s] = parse.distCounts[s];
}

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

void WriteBlock(const MatchParse& parse, const DynamicCode& code, BitWriter& to, bool final)
{
    unsigned hlit = kLitLenSymbols, hdist = kDistSymbols;
    while (hlit > 257 && code.litlenLength[hlit - 1] == 0)
        --hlit;
    while (hdist > 1 && code.distLength[hdist - 1] == 0)
        --hdist;
    WriteDynamicHeader(code.litlenLength, hlit, code.distLength, hdist, to, final);
    // A local writer stays in registers: stores through the caller's could
    // alias it. Copied only now: handed to a call, its address would escape
    // and every store of bits would have to be followed by reloading it.
    BitWriter writer = to;
    // A literal's code and length in one word: one load each. Entries from
    // 256 on are no bits at all, for the places past a run's end.
    uint32_t literal[512] = {};
    for (unsigned b = 0; b < 256; ++b)
        literal[b] = code.litlenCode[b] | uint32_t{code.litlenLength[b]} << 16;
    // Three literals of at most 15 bits fit one put.
    const auto putThree = [&](uint32_t e0, uint32_t e1, uint32_t e2) {
        const unsigned n0 = e0 >> 16, n1 = n0 + (e1 >> 16);
        writer.Put(uint64_t{e0 & 0xFFFF} | uint64_t{e1 & 0xFFFF} << n0 | uint64_t{e2 & 0xFFFF} << n1,
                   n1 + (e2 >> 16));
    };
    size_t piece = 0;
    const uint8_t* p = parse.count != 0 ? parse.pieces[0] : nullptr;
    for (size_t i = 0; i < parse.count; ++i) {
        const MatchParse::Sequence& s = parse.sequences[i];
        const size_t run = s.literals;
        if (s.length == 0) {
            size_t k = 0;
            for (; k + 3 <= run; k += 3)
                putThree(literal[p[k]], literal[p[k + 1]], literal[p[k + 2]]);
            for (; k < run; ++k)
                putThree(literal[p[k]], 0, 0);
            if (++piece < parse.pieces.size())
                p = parse.pieces[piece];
            continue;
        }
        // As when counting, the match's bytes make reading past the run safe.
        for (size_t k = 0; k < run; k += 3) {
            putThree(literal[p[k]], literal[p[k + 1] | size_t{k + 1 >= run} << 8],
                     literal[p[k + 2] | size_t{k + 2 >= run} << 8]);
        }
        p += run;
        const unsigned length = s.length, distance = s.distance;
        const unsigned lsym = kLengths.symbol[length];
        uint64_t put = code.litlenCode[lsym] |
                       (uint64_t{length - kLengths.base[length]} << code.litlenLength[lsym]);
        unsigned n = code.litlenLength[lsym] + kLengths.extraBits[length];
        const unsigned dsym = DistSymbol(distance);
        put |= (code.distCode[dsym] | (uint64_t{distance - kDistBase[dsym]} << code.distLength[dsym]))
               << n;
        n += code.distLength[dsym] + DistExtraBits(dsym);
        writer.Put(put, n);
        p += s.length;
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
    TallyParse(parse, tally);
    DynamicCode code;
    BuildCode(tally, code);
    return kHeaderBits + TallyBits(tally, code);
}

void WriteParse(const MatchParse& parse, BitWriter& writer, bool final)
{
    SymbolTally tally;
    TallyParse(parse, tally);
    DynamicCode code;
    BuildCode(tally, code);
    WriteBlock(parse, code, writer, final);
}

} // namespace pngcore

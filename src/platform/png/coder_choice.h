// Which of the writer's three coders a frame gets, judged from a sample of
// its rows: match-free (fastest; wins on grain and noise), matching (our
// own match finder; smooth photographs, screens) or libdeflate (deeper
// search; rendered content whose repeats lie further apart).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/png/frame_code.h"
#include "platform/png/kernels.h"
#include "platform/png/png.h"

namespace pngcore {

enum class Coder { MatchFree, Matching, Libdeflate };

// libdeflate's level for the frames it takes: the lowest that keeps
// rendered content within a few percent of zlib's default level.
constexpr int kLibdeflateLevel = 5;

// What the sample of a frame's rows decided: its coder, and for the
// match-free coder the frame's code.
struct FrameChoice {
    Coder coder = Coder::MatchFree;
    // How much cheaper than its estimate Up is judged, in percent, when the
    // coder picks filters for its bands: coders that find matches keep more
    // of them when neighbouring rows share a filter, and Up rows are the
    // quickest to read back.
    unsigned upDiscountPercent = 0;
    // Whether our finder tries the distance of one row. Screens repeat
    // there; in photographs it cost more time than it saved bytes, which
    // nearer repeats found by the hash mostly give anyway.
    bool rowDistance = true;
    // Whether our finder's rows go out unfiltered. On screens, text and
    // window parts repeat exactly as they are but not as residuals, and
    // ffmpeg's own PNGs of them are a tenth smaller without filters; the
    // sample tells.
    bool unfiltered = false;
    // The filter the match-free coder gives every row but a band's first,
    // on grainy frames whose sampled rows all but agree on one (kAnyFilter
    // otherwise): judging rows is a tenth of that coder's time, and on such
    // frames finds almost nothing better (0.1% of the bytes on noisy 1080p).
    uint8_t frameFilter = kAnyFilter;
    bool shaped = false;  // false when no code fits the sample's counts
    FrameCode code;
    CodeLengths lengths;
    LiteralTables guess;  // costs judged before any code exists

    // What a literal is judged to cost before a band is parsed.
    const uint8_t* LiteralBits() const { return shaped ? code.literals.length : guess.length; }
};

// Samples the rows of `source` (n bytes each, bpp to a pixel) and decides.
// Throws std::bad_alloc.
void ChooseFrameCoder(const PngSource& source, const FastKernels& k, size_t n, size_t bpp,
                      FrameChoice& choice);

// The coder EncodePng gives `source`, for tests; MatchFree for frames
// EncodePng refuses.
Coder CoderFor(const PngSource& source);

} // namespace pngcore

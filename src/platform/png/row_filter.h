// Filtering one row at a time for the writer: the row buffers the kernels
// expect and the choice of filter per row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "platform/png/kernels.h"
#include "platform/png/png.h"
#include "platform/png/scratch.h"

namespace pngcore {

// Row buffers with the padding the kernels expect: two raw rows and the
// filtered row, its filter byte in front.
class RowBuffers {
public:
    explicit RowBuffers(size_t n);
    uint8_t* prev() { return prev_; }
    uint8_t* cur() { return cur_; }
    uint8_t* filtered() { return filtered_; }
    void Advance() { std::swap(prev_, cur_); }
    void ClearPrev();
    size_t n() const { return n_; }

private:
    size_t n_;
    std::unique_ptr<uint8_t[]> storage_;
    uint8_t* prev_;
    uint8_t* cur_;
    uint8_t* filtered_;
};

// Row buffers for rows of n bytes, kept on a shelf for the next band.
class RowLease {
public:
    explicit RowLease(size_t n);
    RowBuffers& operator*() const { return *lease_->rows; }

private:
    struct Kept {
        std::unique_ptr<RowBuffers> rows;
    };
    static ScratchShelf<Kept>& Shelf();
    ScratchShelf<Kept>::Lease lease_ = Shelf().Take();
};

// How rows are judged. Coders that find matches lose them when
// neighbouring rows take different filters, so they favour Up by a share
// of its estimated cost.
struct FilterPolicy {
    const LiteralTables& costs;
    unsigned upDiscountPercent = 0;
    // The filter every row but a band's first takes without being judged,
    // or kAnyFilter.
    uint8_t frameFilter = kAnyFilter;
};

inline const uint8_t* SourceRow(const PngSource& source, size_t r)
{
    return source.firstRow + static_cast<ptrdiff_t>(r) * source.stride;
}

// Filters the row in rows.cur() against the raw row in rows.prev() and
// returns the chosen form, filter byte first (n + 1 bytes). A band's first
// row may only use None or Sub, which do not read the row above.
const uint8_t* FilterBest(const FastKernels& k, RowBuffers& rows, size_t bpp,
                          const FilterPolicy& policy, bool bandStart);

} // namespace pngcore

#include "platform/png/row_filter.h"

#include <cstring>

namespace pngcore {

RowBuffers::RowBuffers(size_t n) : n_(n)
{
    const size_t stride = kRowPad + n + 1 + kRowPad;
    storage_.reset(new uint8_t[stride * 3]());
    prev_ = storage_.get() + kRowPad;
    cur_ = prev_ + stride;
    filtered_ = cur_ + stride + 1;
}

void RowBuffers::ClearPrev() { std::memset(prev_, 0, n_); }

RowLease::RowLease(size_t n)
{
    Kept& kept = *lease_;
    if (!kept.rows || kept.rows->n() != n) {
        kept.rows.reset();
        kept.rows = std::make_unique<RowBuffers>(n);
    }
}

ScratchShelf<RowLease::Kept>& RowLease::Shelf()
{
    static ScratchShelf<Kept> shelf;
    return shelf;
}

namespace {

// The cheapest filter by the costed blocks; a band's first row may only
// use None or Sub.
uint8_t JudgedFilter(const FastKernels& k, RowBuffers& rows, size_t bpp, const FilterPolicy& policy,
                     bool bandStart)
{
    uint64_t cost[kFilterCount];
    k.filterCosts(rows.cur(), rows.prev(), rows.n(), bpp, policy.costs, cost);
    size_t f = cost[1] < cost[0] ? 1 : 0;
    if (!bandStart) {
        cost[2] -= cost[2] * policy.upDiscountPercent / 100;
        for (size_t g = 2; g < kFilterCount; ++g) {
            if (cost[g] < cost[f])
                f = g;
        }
    }
    return static_cast<uint8_t>(f);
}

} // namespace

const uint8_t* FilterBest(const FastKernels& k, RowBuffers& rows, size_t bpp,
                          const FilterPolicy& policy, bool bandStart)
{
    const size_t n = rows.n();
    uint8_t* const out = rows.filtered();
    // A row like the one above (screens, flat areas) is all zeros under
    // Up, which nothing beats: skip trying the five filters.
    if (!bandStart && std::memcmp(rows.cur(), rows.prev(), n) == 0) {
        std::memset(out, 0, n);
        out[-1] = 2;
        return out - 1;
    }
    const uint8_t f = !bandStart && policy.frameFilter != kAnyFilter
                          ? policy.frameFilter
                          : JudgedFilter(k, rows, bpp, policy, bandStart);
    k.filterRow(f, rows.cur(), rows.prev(), n, bpp, out);
    out[-1] = f;
    return out - 1;
}

} // namespace pngcore

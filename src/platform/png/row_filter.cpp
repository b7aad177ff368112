#include "platform/png/row_filter.h"

#include <cstring>

namespace pngcore {

RowBuffers::RowBuffers(size_t n) : n_(n)
{
    const size_t stride = kRowPad + n + 1 + kRowPad;
    storage_.reset(new uint8_t[stride * (2 + kFilterCount)]());
    prev_ = storage_.get() + kRowPad;
    cur_ = prev_ + stride;
    for (size_t f = 0; f < kFilterCount; ++f)
        filtered_[f] = storage_.get() + (2 + f) * stride + kRowPad + 1;
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

const uint8_t* FilterBest(const FastKernels& k, RowBuffers& rows, size_t bpp,
                          const FilterPolicy& policy, bool bandStart)
{
    const size_t n = rows.n();
    // A row like the one above (screens, flat areas) is all zeros under
    // Up, which nothing beats: skip trying the five filters.
    if (!bandStart && std::memcmp(rows.cur(), rows.prev(), n) == 0) {
        uint8_t* up = rows.filtered()[2];
        std::memset(up, 0, n);
        up[-1] = 2;
        return up - 1;
    }
    uint64_t cost[kFilterCount];
    k.filterRow(rows.cur(), rows.prev(), n, bpp, policy.costs, rows.filtered(), cost);
    size_t f = cost[1] < cost[0] ? 1 : 0;
    if (!bandStart) {
        cost[2] -= cost[2] * policy.upDiscountPercent / 100;
        for (size_t g = 2; g < kFilterCount; ++g) {
            if (cost[g] < cost[f])
                f = g;
        }
    }
    uint8_t* data = rows.filtered()[f] - 1;
    data[0] = static_cast<uint8_t>(f);
    return data;
}

} // namespace pngcore

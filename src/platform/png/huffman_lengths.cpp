#include "platform/png/huffman_lengths.h"

#include <algorithm>
#include <vector>

namespace pngcore {

void HuffmanLengths(const uint64_t* weights, size_t n, uint8_t* lengths)
{
    // Nodes 0..n-1 are leaves, the rest internal; repeatedly join the two
    // lightest free nodes. Alphabets here are tiny, so a linear scan will do.
    std::vector<uint64_t> weight(weights, weights + n);
    std::vector<size_t> parent(2 * n, 0);
    std::vector<bool> joined(2 * n, false);
    weight.resize(2 * n - 1);
    for (size_t next = n; next < 2 * n - 1; ++next) {
        size_t pick[2];
        for (size_t& p : pick) {
            p = SIZE_MAX;
            for (size_t i = 0; i < next; ++i) {
                if (!joined[i] && (p == SIZE_MAX || weight[i] < weight[p]))
                    p = i;
            }
            joined[p] = true;
        }
        weight[next] = weight[pick[0]] + weight[pick[1]];
        parent[pick[0]] = next;
        parent[pick[1]] = next;
    }
    const size_t root = 2 * n - 2;
    for (size_t i = 0; i < n; ++i) {
        unsigned depth = 0;
        for (size_t node = i; node != root; node = parent[node])
            ++depth;
        lengths[i] = static_cast<uint8_t>(std::min(depth, 255u));
    }
}

bool FitLengths(const uint64_t* weights, size_t n, const uint8_t* lo, const uint8_t* hi,
                unsigned limit, uint64_t target, uint8_t* lengths)
{
    uint64_t used = 0;
    for (size_t i = 0; i < n; ++i) {
        lengths[i] = std::clamp(lengths[i], lo[i], hi[i]);
        used += uint64_t{1} << (limit - lengths[i]);
    }
    // Over-subscribed: lengthen the lightest item that may grow.
    while (used > target) {
        size_t pick = SIZE_MAX;
        for (size_t i = 0; i < n; ++i) {
            if (lengths[i] < hi[i] && (pick == SIZE_MAX || weights[i] < weights[pick]))
                pick = i;
        }
        if (pick == SIZE_MAX)
            return false;
        used -= uint64_t{1} << (limit - lengths[pick] - 1);
        ++lengths[pick];
    }
    // Space left: shorten the heaviest item whose growth still fits.
    while (used < target) {
        size_t pick = SIZE_MAX;
        for (size_t i = 0; i < n; ++i) {
            if (lengths[i] > lo[i] && (uint64_t{1} << (limit - lengths[i])) <= target - used &&
                (pick == SIZE_MAX || weights[i] > weights[pick]))
                pick = i;
        }
        if (pick == SIZE_MAX)
            return false;
        used += uint64_t{1} << (limit - lengths[pick]);
        --lengths[pick];
    }
    return true;
}

} // namespace pngcore

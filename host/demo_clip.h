// The built-in test clip: moving gradients, text-like edges, noise and a
// moving disc, the kinds of content a lossless video codec meets.
#pragma once

#include <cstdint>
#include <vector>

// Draws frame `index` of a `width` x `height` clip as bottom-up 24-bit DIB
// rows (rows padded to 4 bytes). The same index always gives the same bytes.
void DrawDemoFrame(uint32_t width, uint32_t height, uint32_t index, std::vector<uint8_t>& rows);

#include "demo_clip.h"

#include "dib.h"

namespace {

// A small integer hash: cheap noise that is the same on every machine.
uint32_t Mix(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

struct Rgb {
    uint8_t b, g, r;
};

// Glyph-like marks in 8 x 12 cells: each cell picks a pattern of strokes,
// which gives the hard horizontal and vertical edges of rendered text.
bool TextInk(uint32_t x, uint32_t y, uint32_t seed)
{
    const uint32_t cell = Mix((x / 8) * 7919u + (y / 12) * 104729u + seed);
    if ((cell & 7) == 0)
        return false; // a space
    const uint32_t cx = x % 8;
    const uint32_t cy = y % 12;
    if (cx == 7 || cy >= 10)
        return false; // spacing between letters and lines
    const bool stem = (cell >> 3 & 1) && cx <= 1;
    const bool bar = (cell >> 4 & 1) && (cy == 1 || cy == 2);
    const bool mid = (cell >> 5 & 1) && (cy == 5);
    const bool base = (cell >> 6 & 1) && (cy == 8 || cy == 9);
    const bool right = (cell >> 7 & 1) && (cx == 5 || cx == 6);
    return stem || bar || mid || base || right;
}

} // namespace

void DrawDemoFrame(uint32_t width, uint32_t height, uint32_t index, std::vector<uint8_t>& rows)
{
    const size_t rowBytes = DibRowBytes(24, width);
    rows.assign(rowBytes * height, 0);
    const uint32_t t = index;

    // Regions, in picture coordinates (y down), moving with t.
    const uint32_t textLeft = width / 16;
    const uint32_t textTop = height / 10;
    const uint32_t textWidth = width / 2;
    const uint32_t textHeight = height / 3;
    const uint32_t noiseSide = height / 4;
    const uint32_t noiseLeft = width - noiseSide - width / 16 - (t * 3) % (width / 4);
    const uint32_t noiseTop = height / 2;
    const int64_t discX = static_cast<int64_t>((t * 11) % (width + 200)) - 100;
    const int64_t discY = static_cast<int64_t>(height) * 3 / 4;
    const int64_t discR = height / 8;

    for (uint32_t y = 0; y < height; ++y) {
        // Bottom-up: picture row y is DIB row height-1-y.
        uint8_t* row = rows.data() + rowBytes * (height - 1 - y);
        const int64_t dy = static_cast<int64_t>(y) - discY;
        for (uint32_t x = 0; x < width; ++x) {
            // Gradients with a little grain, as a camera would see them.
            const uint32_t grain = Mix(x * 2654435761u + y * 40503u + t * 97u) & 3;
            Rgb c{static_cast<uint8_t>((x + 2 * t) * 251 / (width + 2 * t + 1) + grain),
                  static_cast<uint8_t>(y * 251 / height + grain),
                  static_cast<uint8_t>((((x + y) / 4 + t * 2) & 0xFF) * 251 / 255 + grain)};
            if (x >= textLeft && x < textLeft + textWidth && y >= textTop &&
                y < textTop + textHeight) {
                // A page scrolling up, one pixel a frame.
                const bool ink = TextInk(x - textLeft, y - textTop + t, 17);
                c = ink ? Rgb{32, 24, 16} : Rgb{240, 244, 248};
            } else if (x >= noiseLeft && x < noiseLeft + noiseSide && y >= noiseTop &&
                       y < noiseTop + noiseSide) {
                // Sensor-like noise around a mid gray, new every frame.
                const uint32_t n = Mix(x * 73856093u ^ y * 19349663u ^ t * 83492791u);
                const auto base = static_cast<uint8_t>(96 + (x - noiseLeft) / 4);
                c = Rgb{static_cast<uint8_t>(base + (n & 15)),
                        static_cast<uint8_t>(base + (n >> 4 & 15)),
                        static_cast<uint8_t>(base + (n >> 8 & 15))};
            }
            const int64_t dx = static_cast<int64_t>(x) - discX;
            if (dx * dx + dy * dy <= discR * discR)
                c = Rgb{40, static_cast<uint8_t>(120 + (t & 63)), 220};
            row[3 * x] = c.b;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.r;
        }
    }
}

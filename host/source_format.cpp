#include "source_format.h"

#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

struct Traits {
    bool alpha = false;
    bool gray = false;
    bool yuv = false;
    int bits = 8; // the deepest component
};

Traits TraitsOf(AVPixelFormat format)
{
    Traits t;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    if (d == nullptr)
        return t;
    t.alpha = (d->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    const int colours = d->nb_components - (t.alpha ? 1 : 0);
    t.gray = colours == 1 && !(d->flags & AV_PIX_FMT_FLAG_PAL);
    t.yuv = !t.gray && !(d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
    t.bits = 0;
    for (int i = 0; i < d->nb_components; ++i)
        if (d->comp[i].depth > t.bits)
            t.bits = d->comp[i].depth;
    // Float formats keep more than their depth says.
    if (d->flags & AV_PIX_FMT_FLAG_FLOAT)
        t.bits = 32;
    return t;
}

std::string MatrixName(AVColorSpace colorspace)
{
    switch (colorspace) {
    case AVCOL_SPC_BT709: return "BT.709";
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return "BT.2020";
    case AVCOL_SPC_SMPTE240M: return "SMPTE 240M";
    case AVCOL_SPC_FCC: return "FCC";
    case AVCOL_SPC_UNSPECIFIED: return "BT.601, untagged";
    default: return "BT.601";
    }
}

} // namespace

bool IsYuv(AVPixelFormat format) { return TraitsOf(format).yuv; }

uint32_t LosslessDepth(AVPixelFormat format)
{
    const Traits t = TraitsOf(format);
    if (t.alpha)
        return 32;
    if (t.gray)
        return t.bits > 8 ? 16 : 8;
    return 24;
}

std::string LossNote(AVPixelFormat format, AVColorSpace colorspace, AVColorRange range,
                     uint32_t depth)
{
    const Traits t = TraitsOf(format);
    std::vector<std::string> lost;
    std::vector<std::string> avoid;
    const bool grayRows = depth == 8 || depth == 16;
    if (t.alpha && depth != 32) {
        lost.push_back("the alpha channel is dropped");
        avoid.push_back("--depth 32 keeps alpha");
    }
    if (!t.gray && grayRows) {
        lost.push_back("colours become gray");
        avoid.push_back("--depth 24 or 32 keeps colour");
    }
    const int keptBits = depth == 16 ? 16 : 8;
    if (t.bits > keptBits) {
        lost.push_back(std::to_string(t.bits) + " bits per sample become " +
                       std::to_string(keptBits));
        if (t.gray && depth != 16)
            avoid.push_back("--depth 16 keeps 16 bits of gray");
        else if (!t.gray)
            avoid.push_back("colour rows hold 8 bits per channel; only gray keeps 16");
    }
    if (t.yuv && !grayRows) {
        lost.push_back("YUV becomes RGB with rounding (" + MatrixName(colorspace) + ", " +
                       (range == AVCOL_RANGE_JPEG ? "full" : "limited") + " range)");
        avoid.push_back("give RGB or gray input, which is kept exactly");
    }
    if (lost.empty())
        return {};
    const char* name = av_get_pix_fmt_name(format);
    std::string note = std::string(name ? name : "the") + " pictures as " +
                       std::to_string(depth) + "-bit rows lose information: ";
    for (size_t i = 0; i < lost.size(); ++i)
        note += (i ? "; " : "") + lost[i];
    note += '.';
    for (size_t i = 0; i < avoid.size(); ++i)
        note += (i ? "; " : " To keep it: ") + avoid[i];
    if (!avoid.empty())
        note += '.';
    return note;
}

#include "picture_convert.h"

#include <cstring>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "dib.h"
#include "media_util.h"
#include "source_format.h"

namespace {

// swscale's name for the matrix a frame is tagged with; untagged pictures
// get BT.601, as FFmpeg's own tools assume.
int SwsMatrix(int colorspace)
{
    switch (colorspace) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    case AVCOL_SPC_FCC: return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
    default: return SWS_CS_ITU601;
    }
}

// The "J" formats are full range whatever the frame says.
bool FullRange(AVPixelFormat format, int range)
{
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P: return true;
    default: return range == AVCOL_RANGE_JPEG;
    }
}

} // namespace

PictureConverter::PictureConverter(uint32_t width, uint32_t height, uint32_t bitCount)
    : width_(width), height_(height), bitCount_(bitCount)
{
    scratch_ = av_frame_alloc();
    if (scratch_ == nullptr)
        throw std::bad_alloc();
    scratch_->width = static_cast<int>(width);
    scratch_->height = static_cast<int>(height);
    scratch_->format = DibPixelFormat(bitCount);
    // 64-byte rows and FFmpeg's own tail padding: room for any SIMD store.
    if (av_frame_get_buffer(scratch_, 64) < 0) {
        av_frame_free(&scratch_);
        throw std::bad_alloc();
    }
}

PictureConverter::~PictureConverter()
{
    sws_freeContext(scaler_);
    av_frame_free(&scratch_);
}

void PictureConverter::Prepare(const AVFrame& frame)
{
    const auto format = static_cast<AVPixelFormat>(frame.format);
    if (scaler_ != nullptr && frame.width == sourceWidth_ && frame.height == sourceHeight_ &&
        frame.format == sourceFormat_ && frame.colorspace == colorspace_ &&
        frame.color_range == range_)
        return;
    sws_freeContext(scaler_);
    // Every converter is made with the same settings, so the rows do not
    // depend on which worker converts a picture.
    scaler_ = sws_getContext(frame.width, frame.height, format, static_cast<int>(width_),
                             static_cast<int>(height_), DibPixelFormat(bitCount_),
                             SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                             nullptr, nullptr, nullptr);
    if (scaler_ == nullptr) {
        const char* name = av_get_pix_fmt_name(format);
        throw std::runtime_error(std::string("cannot convert ") + (name ? name : "its") +
                                 " pictures to " + std::to_string(bitCount_) + "-bit DIB rows");
    }
    if (IsYuv(format)) {
        const int* matrix = sws_getCoefficients(SwsMatrix(frame.colorspace));
        // RGB and gray rows are full range.
        sws_setColorspaceDetails(scaler_, matrix, FullRange(format, frame.color_range) ? 1 : 0,
                                 matrix, 1, 0, 1 << 16, 1 << 16);
    }
    sourceWidth_ = frame.width;
    sourceHeight_ = frame.height;
    sourceFormat_ = frame.format;
    colorspace_ = frame.colorspace;
    range_ = frame.color_range;
}

void PictureConverter::Convert(const AVFrame& frame, std::vector<uint8_t>& rows)
{
    // Pictures already in the rows' pixel format only need turning upside
    // down; swscale would copy them once more for nothing.
    const AVFrame* top = &frame;
    if (frame.format != DibPixelFormat(bitCount_) || frame.width != static_cast<int>(width_) ||
        frame.height != static_cast<int>(height_)) {
        Prepare(frame);
        sws_scale(scaler_, frame.data, frame.linesize, 0, frame.height, scratch_->data,
                  scratch_->linesize);
        top = scratch_;
    }

    // Bottom-up: the picture's top row is the buffer's last row.
    const size_t rowBytes = DibRowBytes(bitCount_, width_);
    const size_t pixelBytes = static_cast<size_t>(bitCount_ / 8) * width_;
    rows.resize(rowBytes * height_);
    for (uint32_t y = 0; y < height_; ++y) {
        uint8_t* row = rows.data() + rowBytes * (height_ - 1 - y);
        std::memcpy(row, top->data[0] + static_cast<ptrdiff_t>(top->linesize[0]) * y,
                    pixelBytes);
        std::memset(row + pixelBytes, 0, rowBytes - pixelBytes);
    }
}

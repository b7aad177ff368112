#include "video_input.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "dib.h"
#include "media_util.h"

struct VideoInput::State {
    std::string path;
    AVFormatContext* format = nullptr;
    AVCodecContext* decoder = nullptr;
    SwsContext* scaler = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    bool draining = false;
    bool ended = false;

    ~State()
    {
        sws_freeContext(scaler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
        avformat_close_input(&format);
    }

    [[noreturn]] void Fail(const std::string& what, int error = 0) const
    {
        throw MediaError(path + ": " + what + (error != 0 ? ": " + AvErrorText(error) : ""));
    }
};

VideoInput::VideoInput(const std::string& path) : state_(std::make_unique<State>())
{
    State& s = *state_;
    s.path = path;
    av_log_set_level(AV_LOG_ERROR);
    int error = avformat_open_input(&s.format, path.c_str(), nullptr, nullptr);
    if (error < 0)
        s.Fail("cannot open as video or image", error);
    error = avformat_find_stream_info(s.format, nullptr);
    if (error < 0)
        s.Fail("cannot read stream information", error);
    const AVCodec* codec = nullptr;
    s.stream = av_find_best_stream(s.format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (s.stream < 0)
        s.Fail(s.stream == AVERROR_DECODER_NOT_FOUND ? "no decoder for its video stream"
                                                     : "has no video stream");
    s.decoder = avcodec_alloc_context3(codec);
    if (s.decoder == nullptr)
        s.Fail("out of memory");
    avcodec_parameters_to_context(s.decoder, s.format->streams[s.stream]->codecpar);
    s.decoder->thread_count = 1;
    error = avcodec_open2(s.decoder, codec, nullptr);
    if (error < 0)
        s.Fail("cannot open the " + std::string(codec->name) + " decoder", error);
    s.packet = av_packet_alloc();
    s.frame = av_frame_alloc();
    if (s.packet == nullptr || s.frame == nullptr)
        s.Fail("out of memory");
    if (Width() == 0 || Height() == 0 || Width() > 65535 || Height() > 65535)
        s.Fail("unusable picture size " + std::to_string(Width()) + "x" +
               std::to_string(Height()));
}

VideoInput::~VideoInput() = default;

uint32_t VideoInput::Width() const
{
    return static_cast<uint32_t>(state_->decoder->width);
}

uint32_t VideoInput::Height() const
{
    return static_cast<uint32_t>(state_->decoder->height);
}

namespace {

// The stream's frame rate, or 25/1 when the file does not say.
AVRational StreamRate(const AVStream* stream)
{
    AVRational rate = stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = stream->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = AVRational{25, 1};
    return rate;
}

} // namespace

int VideoInput::FrameRateNum() const
{
    return StreamRate(state_->format->streams[state_->stream]).num;
}

int VideoInput::FrameRateDen() const
{
    return StreamRate(state_->format->streams[state_->stream]).den;
}

int64_t VideoInput::FrameCountHint() const
{
    const AVStream* stream = state_->format->streams[state_->stream];
    return stream->nb_frames > 0 ? stream->nb_frames : 0;
}

bool VideoInput::Next(uint32_t bitCount, std::vector<uint8_t>& rows)
{
    State& s = *state_;
    for (;;) {
        int error = avcodec_receive_frame(s.decoder, s.frame);
        if (error == 0)
            break;
        if (error == AVERROR_EOF)
            return false;
        if (error != AVERROR(EAGAIN))
            s.Fail("cannot decode a picture", error);
        if (s.draining)
            return false;
        error = av_read_frame(s.format, s.packet);
        if (error == AVERROR_EOF) {
            s.draining = true;
            avcodec_send_packet(s.decoder, nullptr);
            continue;
        }
        if (error < 0)
            s.Fail("cannot read", error);
        if (s.packet->stream_index == s.stream) {
            error = avcodec_send_packet(s.decoder, s.packet);
            if (error < 0 && error != AVERROR(EAGAIN))
                s.Fail("cannot decode a picture", error);
        }
        av_packet_unref(s.packet);
    }

    const uint32_t width = Width();
    const uint32_t height = Height();
    if (static_cast<uint32_t>(s.frame->width) != width ||
        static_cast<uint32_t>(s.frame->height) != height)
        s.Fail("the picture size changes from " + std::to_string(width) + "x" +
               std::to_string(height) + " to " + std::to_string(s.frame->width) + "x" +
               std::to_string(s.frame->height) + "; an AVI stream keeps one size");
    const AVPixelFormat target = DibPixelFormat(bitCount);
    s.scaler = sws_getCachedContext(s.scaler, s.frame->width, s.frame->height,
                                    static_cast<AVPixelFormat>(s.frame->format),
                                    s.frame->width, s.frame->height, target,
                                    SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                    nullptr, nullptr, nullptr);
    if (s.scaler == nullptr)
        s.Fail("cannot convert its pictures to " + std::to_string(bitCount) + "-bit DIB rows");

    // Bottom-up: the picture's top row is the buffer's last row, so scale
    // into the last row with a negative stride.
    const size_t rowBytes = DibRowBytes(bitCount, width);
    rows.assign(rowBytes * height, 0);
    uint8_t* planes[4] = {rows.data() + rowBytes * (height - 1), nullptr, nullptr, nullptr};
    int strides[4] = {-static_cast<int>(rowBytes), 0, 0, 0};
    sws_scale(s.scaler, s.frame->data, s.frame->linesize, 0, s.frame->height, planes, strides);
    av_frame_unref(s.frame);
    return true;
}

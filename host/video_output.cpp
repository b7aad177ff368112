#include "video_output.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "dib.h"
#include "media_util.h"

namespace {

std::string Extension(const std::string& path)
{
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

bool IsRawName(const std::string& ext)
{
    return ext == "raw" || ext == "rgb" || ext == "bgr" || ext == "gray";
}

// The codec to write into a container: lossless where the container can
// hold it.
AVCodecID ChooseCodec(const AVOutputFormat* format, const std::string& path)
{
    const std::string name = format->name;
    if (name == "image2" || name == "image2pipe")
        return av_guess_codec(format, nullptr, path.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
    if (name == "rawvideo")
        return AV_CODEC_ID_RAWVIDEO;
    if (name == "yuv4mpegpipe")
        return AV_CODEC_ID_WRAPPED_AVFRAME;
    if (name == "matroska" || name == "nut" || name == "avi" || name == "mov")
        return AV_CODEC_ID_FFV1;
    return format->video_codec;
}

AVPixelFormat ChoosePixels(AVCodecID id, const AVCodec* codec, AVPixelFormat source, bool& lossy)
{
    lossy = false;
    if (id == AV_CODEC_ID_RAWVIDEO)
        return source;
    if (id == AV_CODEC_ID_WRAPPED_AVFRAME) {
        // yuv4mpeg holds YUV and gray only.
        if (source == AV_PIX_FMT_GRAY8 || source == AV_PIX_FMT_GRAY16LE)
            return source;
        lossy = true;
        return source == AV_PIX_FMT_BGRA ? AV_PIX_FMT_YUVA444P : AV_PIX_FMT_YUV444P;
    }
    if (codec->pix_fmts == nullptr)
        return source;
    const int alpha = source == AV_PIX_FMT_BGRA;
    int loss = 0;
    const AVPixelFormat chosen = avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, source, alpha, &loss);
    lossy = loss != 0;
    return chosen;
}

} // namespace

struct VideoOutput::State {
    std::string path;
    AVFormatContext* format = nullptr;
    AVCodecContext* encoder = nullptr;
    AVStream* stream = nullptr;
    SwsContext* scaler = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    AVPixelFormat source = AV_PIX_FMT_NONE;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitCount = 0;
    int64_t next = 0;
    bool opened = false;
    bool finished = false;

    ~State()
    {
        if (opened && !finished)
            av_write_trailer(format);
        if (format != nullptr && !(format->oformat->flags & AVFMT_NOFILE))
            avio_closep(&format->pb);
        sws_freeContext(scaler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&encoder);
        avformat_free_context(format);
    }

    [[noreturn]] void Fail(const std::string& what, int error = 0) const
    {
        throw MediaError(path + ": " + what + (error != 0 ? ": " + AvErrorText(error) : ""));
    }

    void Drain()
    {
        for (;;) {
            const int error = avcodec_receive_packet(encoder, packet);
            if (error == AVERROR(EAGAIN) || error == AVERROR_EOF)
                return;
            if (error < 0)
                Fail("cannot encode a picture", error);
            av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            const int written = av_interleaved_write_frame(format, packet);
            if (written < 0)
                Fail("cannot write", written);
        }
    }
};

VideoOutput::VideoOutput(const std::string& path, uint32_t width, uint32_t height,
                         uint32_t bitCount, int rateNum, int rateDen)
    : state_(std::make_unique<State>())
{
    State& s = *state_;
    s.path = path;
    s.width = width;
    s.height = height;
    s.bitCount = bitCount;
    s.source = DibPixelFormat(bitCount);
    av_log_set_level(AV_LOG_ERROR);

    const char* forced = IsRawName(Extension(path)) ? "rawvideo" : nullptr;
    int error = avformat_alloc_output_context2(&s.format, nullptr, forced, path.c_str());
    if (error < 0 || s.format == nullptr)
        s.Fail("cannot tell from its name what to write (try .y4m, .mkv, %04d.png or .raw)",
               error);
    const AVCodecID id = ChooseCodec(s.format->oformat, path);
    const AVCodec* codec = avcodec_find_encoder(id);
    if (id == AV_CODEC_ID_NONE || codec == nullptr)
        s.Fail("no video encoder for " + std::string(s.format->oformat->name));
    bool lossy = false;
    const AVPixelFormat pixels = ChoosePixels(id, codec, s.source, lossy);
    if (lossy)
        std::fprintf(stderr, "talverox: note: %s holds %s, not %s: the pictures lose detail\n",
                     path.c_str(), av_get_pix_fmt_name(pixels), av_get_pix_fmt_name(s.source));

    s.stream = avformat_new_stream(s.format, nullptr);
    s.encoder = avcodec_alloc_context3(codec);
    s.frame = av_frame_alloc();
    s.packet = av_packet_alloc();
    if (s.stream == nullptr || s.encoder == nullptr || s.frame == nullptr || s.packet == nullptr)
        s.Fail("out of memory");
    s.encoder->width = static_cast<int>(width);
    s.encoder->height = static_cast<int>(height);
    s.encoder->pix_fmt = pixels;
    s.encoder->time_base = AVRational{rateDen, rateNum};
    s.encoder->framerate = AVRational{rateNum, rateDen};
    if (s.format->oformat->flags & AVFMT_GLOBALHEADER)
        s.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    error = avcodec_open2(s.encoder, codec, nullptr);
    if (error < 0)
        s.Fail("cannot open the " + std::string(codec->name) + " encoder", error);
    avcodec_parameters_from_context(s.stream->codecpar, s.encoder);
    s.stream->time_base = s.encoder->time_base;

    if (!(s.format->oformat->flags & AVFMT_NOFILE)) {
        error = avio_open(&s.format->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (error < 0)
            s.Fail("cannot create", error);
    }
    error = avformat_write_header(s.format, nullptr);
    if (error < 0)
        s.Fail("cannot write the header", error);
    s.opened = true;

    s.frame->format = pixels;
    s.frame->width = static_cast<int>(width);
    s.frame->height = static_cast<int>(height);
    error = av_frame_get_buffer(s.frame, 0);
    if (error < 0)
        s.Fail("out of memory", error);
    s.scaler = sws_getContext(static_cast<int>(width), static_cast<int>(height), s.source,
                              static_cast<int>(width), static_cast<int>(height), pixels,
                              SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr,
                              nullptr, nullptr);
    if (s.scaler == nullptr)
        s.Fail("cannot convert pictures to " + std::string(av_get_pix_fmt_name(pixels)));
}

VideoOutput::~VideoOutput() = default;

void VideoOutput::Write(const uint8_t* rows)
{
    State& s = *state_;
    // Encoders may still hold the previous picture's buffer.
    int error = av_frame_make_writable(s.frame);
    if (error < 0)
        s.Fail("out of memory", error);
    // The DIB's last row is the picture's top: read upward.
    const size_t rowBytes = DibRowBytes(s.bitCount, s.width);
    const uint8_t* planes[4] = {rows + rowBytes * (s.height - 1), nullptr, nullptr, nullptr};
    const int strides[4] = {-static_cast<int>(rowBytes), 0, 0, 0};
    sws_scale(s.scaler, planes, strides, 0, static_cast<int>(s.height), s.frame->data,
              s.frame->linesize);
    s.frame->pts = s.next++;
    error = avcodec_send_frame(s.encoder, s.frame);
    if (error < 0)
        s.Fail("cannot encode a picture", error);
    s.Drain();
}

void VideoOutput::Finish()
{
    State& s = *state_;
    const int error = avcodec_send_frame(s.encoder, nullptr);
    if (error < 0 && error != AVERROR_EOF)
        s.Fail("cannot flush the encoder", error);
    s.Drain();
    s.finished = true;
    const int written = av_write_trailer(s.format);
    if (written < 0)
        s.Fail("cannot complete the file", written);
}

std::string VideoOutput::Description() const
{
    const State& s = *state_;
    return std::string(s.encoder->codec->name) + " " +
           av_get_pix_fmt_name(s.encoder->pix_fmt) + " in " + s.format->oformat->name;
}

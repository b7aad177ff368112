#include "video_output.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "dib.h"
#include "media_util.h"

namespace {

constexpr const char* kLosslessAdvice = "write .mkv or .nut (FFV1, lossless) or .raw instead";

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

// The muxer for `name`, or null.
AVFormatContext* AllocateFor(const std::string& name)
{
    AVFormatContext* format = nullptr;
    const char* forced = IsRawName(Extension(name)) ? "rawvideo" : nullptr;
    if (avformat_alloc_output_context2(&format, nullptr, forced, name.c_str()) < 0)
        return nullptr;
    return format;
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

// The pixels to write: the source's own, or a layout that holds every bit
// of it (gray16be for gray16le, rgb24 for bgr24). AV_PIX_FMT_NONE when the
// encoder has none.
AVPixelFormat ChoosePixels(AVCodecID id, const AVCodec* codec, AVPixelFormat source)
{
    if (id == AV_CODEC_ID_RAWVIDEO)
        return source;
    if (id == AV_CODEC_ID_WRAPPED_AVFRAME) {
        // YUV4MPEG holds 8-bit gray exactly; its 16-bit gray is not in the
        // format's definition, and it has no RGB and no alpha.
        return source == AV_PIX_FMT_GRAY8 ? source : AV_PIX_FMT_NONE;
    }
    if (codec->pix_fmts == nullptr)
        return source;
    const int alpha = source == AV_PIX_FMT_BGRA;
    int loss = 0;
    const AVPixelFormat chosen = avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, source, alpha, &loss);
    return loss == 0 ? chosen : AV_PIX_FMT_NONE;
}

const char* DepthWords(uint32_t bitCount)
{
    switch (bitCount) {
    case 8: return "8-bit gray";
    case 16: return "16-bit gray";
    case 32: return "32-bit colour with alpha";
    default: return "24-bit colour";
    }
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
    bool flip = false;
    int64_t next = 0;
    bool opened = false;
    bool finished = false;

    // Numbered images: libavformat opens each through OpenImage, which
    // creates it exclusively and notes it, so a failed run removes exactly
    // the images it made.
    Overwrite images = Overwrite::Never;
    int (*defaultOpen)(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) = nullptr;
    std::vector<std::string> created;
    std::string refusal;

    ~State()
    {
        if (opened && !finished && !(format->oformat->flags & AVFMT_NOFILE))
            av_write_trailer(format);
        if (format != nullptr && !(format->oformat->flags & AVFMT_NOFILE))
            avio_closep(&format->pb);
        if (!finished) {
            for (const std::string& name : created)
                unlink(name.c_str());
        }
        sws_freeContext(scaler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&encoder);
        avformat_free_context(format);
    }

    [[noreturn]] void Fail(const std::string& what, int error = 0) const
    {
        if (!refusal.empty())
            throw MediaError(refusal);
        throw MediaError(path + ": " + what + (error != 0 ? ": " + AvErrorText(error) : ""));
    }

    static int OpenImage(AVFormatContext* format, AVIOContext** pb, const char* url, int flags,
                         AVDictionary** options)
    {
        State& s = *static_cast<State*>(format->opaque);
        if (!(flags & AVIO_FLAG_WRITE))
            return s.defaultOpen(format, pb, url, flags, options);
        const int fd = open(url, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            s.created.emplace_back(url);
        } else if (errno != EEXIST) {
            const int error = errno;
            s.refusal = std::string(url) + ": cannot create: " + AvErrorText(AVERROR(error));
            return AVERROR(error);
        } else {
            struct stat st {};
            if (s.images != Overwrite::Always) {
                s.refusal = std::string(url) + ": exists; give -y to replace numbered images";
                return AVERROR(EEXIST);
            }
            if (stat(url, &st) != 0 || !S_ISREG(st.st_mode)) {
                s.refusal = std::string(url) + ": is not a regular file; left as it is";
                return AVERROR(EINVAL);
            }
        }
        // "file:" so that a name with a colon is not taken for a protocol.
        return s.defaultOpen(format, pb, ("file:" + std::string(url)).c_str(), flags, options);
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

VideoOutput::VideoOutput(const OutputTarget& target, uint32_t width, uint32_t height,
                         uint32_t bitCount, int rateNum, int rateDen)
    : state_(std::make_unique<State>())
{
    State& s = *state_;
    s.path = target.name;
    s.width = width;
    s.height = height;
    s.bitCount = bitCount;
    s.flip = target.flip;
    s.images = target.images;
    s.source = DibPixelFormat(bitCount);
    av_log_set_level(AV_LOG_ERROR);

    s.format = AllocateFor(target.name);
    if (s.format == nullptr)
        s.Fail("cannot tell from its name what to write (try .mkv, .nut, .y4m, %04d.png or .raw)");
    const AVCodecID id = ChooseCodec(s.format->oformat, target.name);
    const AVCodec* codec = avcodec_find_encoder(id);
    if (id == AV_CODEC_ID_NONE || codec == nullptr)
        s.Fail("no video encoder for " + std::string(s.format->oformat->name));
    const AVPixelFormat pixels = ChoosePixels(id, codec, s.source);
    if (pixels == AV_PIX_FMT_NONE) {
        if (id == AV_CODEC_ID_WRAPPED_AVFRAME)
            s.Fail(std::string("YUV4MPEG (.y4m) cannot hold ") + DepthWords(bitCount) +
                   " without losing bits (it holds 8-bit gray and YUV only); " + kLosslessAdvice);
        s.Fail(std::string("the ") + codec->name + " encoder cannot hold " + DepthWords(bitCount) +
               " exactly; " + kLosslessAdvice);
    }

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
    int error = avcodec_open2(s.encoder, codec, nullptr);
    if (error < 0)
        s.Fail("cannot open the " + std::string(codec->name) + " encoder", error);
    avcodec_parameters_from_context(s.stream->codecpar, s.encoder);
    s.stream->time_base = s.encoder->time_base;

    if (s.format->oformat->flags & AVFMT_NOFILE) {
        s.format->opaque = &s;
        s.defaultOpen = s.format->io_open;
        s.format->io_open = State::OpenImage;
    } else {
        error = avio_open(&s.format->pb, target.file.c_str(), AVIO_FLAG_WRITE);
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
    // Bottom-up rows: the last one is the picture's top, so read upward.
    const size_t rowBytes = DibRowBytes(s.bitCount, s.width);
    const uint8_t* top = s.flip ? rows : rows + rowBytes * (s.height - 1);
    const int stride = s.flip ? static_cast<int>(rowBytes) : -static_cast<int>(rowBytes);
    const uint8_t* planes[4] = {top, nullptr, nullptr, nullptr};
    const int strides[4] = {stride, 0, 0, 0};
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
    s.opened = false; // one trailer, even when it fails
    const int written = av_write_trailer(s.format);
    if (written < 0)
        s.Fail("cannot complete the file", written);
    if (!(s.format->oformat->flags & AVFMT_NOFILE)) {
        const int closed = avio_closep(&s.format->pb);
        if (closed < 0)
            s.Fail("cannot complete the file", closed);
    }
    s.finished = true;
}

std::string VideoOutput::Description() const
{
    const State& s = *state_;
    return std::string(s.encoder->codec->name) + " " +
           av_get_pix_fmt_name(s.encoder->pix_fmt) + " in " + s.format->oformat->name;
}

bool VideoOutput::WritesOneFile(const std::string& name)
{
    AVFormatContext* format = AllocateFor(name);
    const bool one = format == nullptr || !(format->oformat->flags & AVFMT_NOFILE);
    avformat_free_context(format);
    return one;
}

std::string ContainerOfName(const std::string& name)
{
    const AVOutputFormat* format = av_guess_format(nullptr, name.c_str(), nullptr);
    return format != nullptr && Extension(name) != "" ? format->name : "";
}

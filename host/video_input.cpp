#include "video_input.h"

#include <cstdio>
#include <optional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "audio_pcm.h"
#include "constant_rate.h"
#include "media_util.h"

namespace {

// The stream's frame rate as FFmpeg's own tools pick it (the real base
// rate, or the average when the base rate is implausibly high), or 25/1
// when the file does not say.
AVRational StreamRate(AVFormatContext* format, AVStream* stream)
{
    AVRational rate = av_guess_frame_rate(format, stream, nullptr);
    if (rate.num <= 0 || rate.den <= 0)
        rate = stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = AVRational{25, 1};
    return rate;
}

int64_t FrameDuration(const AVFrame* frame)
{
#if LIBAVUTIL_VERSION_MAJOR >= 58
    return frame->duration;
#else
    return frame->pkt_duration;
#endif
}

double StartSeconds(const AVStream* stream)
{
    return static_cast<double>(stream->start_time) * av_q2d(stream->time_base);
}

void FreeFrame(AVFrame* frame)
{
    av_frame_free(&frame);
}

} // namespace

struct VideoInput::State {
    std::string path;
    AVFormatContext* format = nullptr;
    AVCodecContext* decoder = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    // The first picture's size, which the stream keeps; the decoder's own
    // follows each picture.
    int width = 0;
    int height = 0;
    bool draining = false;

    std::optional<AudioPcm> audio;
    int audioStream = -1;
    PcmFormat pcm;

    // Timing: the last two pictures and the frames each still has to give.
    ConstantRate timing;
    std::shared_ptr<const AVFrame> previous;
    std::shared_ptr<const AVFrame> current;
    int64_t previousLeft = 0;
    int64_t currentLeft = 0;
    int64_t firstPts = AV_NOPTS_VALUE;
    double lastTime = 0;
    double periodsPerTick = 0; // output frame periods per stream time-base tick
    bool resizeNoted = false;
    uint64_t pictures = 0;

    ~State()
    {
        previous.reset();
        current.reset();
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
        avformat_close_input(&format);
    }

    [[noreturn]] void Fail(const std::string& what, int error = 0) const
    {
        throw MediaError(path + ": " + what + (error != 0 ? ": " + AvErrorText(error) : ""));
    }

    void Note(const std::string& what) const
    {
        std::fprintf(stderr, "talverox: note: %s: %s\n", path.c_str(), what.c_str());
    }

    // The best audio stream, or a note saying why it is left out.
    void OpenAudio();
    // The next decoded picture, or null after the last.
    AVFrame* Decode();
    // The picture's start in output frame periods since the first picture.
    double TimeOf(const AVFrame* picture);
};

void VideoInput::State::OpenAudio()
{
    audioStream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, stream, nullptr, 0);
    if (audioStream < 0)
        return;
    AVStream* sound = format->streams[audioStream];
    try {
        audio.emplace(*sound);
    } catch (const std::exception& e) {
        Note(std::string("audio left out: ") + e.what());
        return;
    }
    pcm = {audio->Channels(), audio->SampleRate()};
    sound->discard = AVDISCARD_DEFAULT;
    // Both streams start at the AVI's first frame; keep their distance.
    const AVStream* video = format->streams[stream];
    if (sound->start_time != AV_NOPTS_VALUE && video->start_time != AV_NOPTS_VALUE)
        audio->Align(StartSeconds(sound) - StartSeconds(video));
    const int channels = sound->codecpar->ch_layout.nb_channels;
    if (channels > 2)
        Note("its " + std::to_string(channels) + " audio channels are mixed down to stereo");
}

AVFrame* VideoInput::State::Decode()
{
    for (;;) {
        int error = avcodec_receive_frame(decoder, frame);
        if (error == 0)
            return frame;
        if (error == AVERROR_EOF)
            return nullptr;
        if (error != AVERROR(EAGAIN))
            Fail("cannot decode a picture", error);
        if (draining)
            return nullptr;
        error = av_read_frame(format, packet);
        if (error == AVERROR_EOF) {
            draining = true;
            avcodec_send_packet(decoder, nullptr);
            if (audio)
                audio->Send(nullptr);
            continue;
        }
        if (error < 0)
            Fail("cannot read", error);
        if (packet->stream_index == stream) {
            error = avcodec_send_packet(decoder, packet);
            if (error < 0 && error != AVERROR(EAGAIN))
                Fail("cannot decode a picture", error);
        } else if (audio && packet->stream_index == audioStream) {
            audio->Send(packet);
        }
        av_packet_unref(packet);
    }
}

double VideoInput::State::TimeOf(const AVFrame* picture)
{
    const int64_t pts = picture->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE)
        return pictures == 0 ? 0 : lastTime + 1;
    if (firstPts == AV_NOPTS_VALUE)
        firstPts = pts;
    return static_cast<double>(pts - firstPts) * periodsPerTick;
}

VideoInput::VideoInput(const std::string& path, bool audio) : state_(std::make_unique<State>())
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
    AVStream* video = s.format->streams[s.stream];
    avcodec_parameters_to_context(s.decoder, video->codecpar);
    s.decoder->pkt_timebase = video->time_base;
    s.decoder->thread_count = 1;
    error = avcodec_open2(s.decoder, codec, nullptr);
    if (error < 0)
        s.Fail("cannot open the " + std::string(codec->name) + " decoder", error);
    s.packet = av_packet_alloc();
    s.frame = av_frame_alloc();
    if (s.packet == nullptr || s.frame == nullptr)
        s.Fail("out of memory");
    s.width = s.decoder->width;
    s.height = s.decoder->height;
    if (Width() == 0 || Height() == 0 || Width() > 65535 || Height() > 65535)
        s.Fail("unusable picture size " + std::to_string(Width()) + "x" +
               std::to_string(Height()));
    const AVRational rate = StreamRate(s.format, video);
    s.periodsPerTick = av_q2d(video->time_base) * av_q2d(rate);

    // Everything but the chosen streams is skipped by the demuxer.
    for (unsigned i = 0; i < s.format->nb_streams; ++i)
        s.format->streams[i]->discard = AVDISCARD_ALL;
    s.format->streams[s.stream]->discard = AVDISCARD_DEFAULT;
    if (audio)
        s.OpenAudio();
}

VideoInput::~VideoInput() = default;

uint32_t VideoInput::Width() const
{
    return static_cast<uint32_t>(state_->width);
}

uint32_t VideoInput::Height() const
{
    return static_cast<uint32_t>(state_->height);
}

int VideoInput::FrameRateNum() const
{
    return StreamRate(state_->format, state_->format->streams[state_->stream]).num;
}

int VideoInput::FrameRateDen() const
{
    return StreamRate(state_->format, state_->format->streams[state_->stream]).den;
}

int64_t VideoInput::FrameCountHint() const
{
    const AVStream* stream = state_->format->streams[state_->stream];
    return stream->nb_frames > 0 ? stream->nb_frames : 0;
}

AVPixelFormat VideoInput::PixelFormat() const
{
    return state_->decoder->pix_fmt;
}

AVColorSpace VideoInput::Colorspace() const
{
    return state_->decoder->colorspace;
}

AVColorRange VideoInput::ColorRange() const
{
    return state_->decoder->color_range;
}

const PcmFormat& VideoInput::Audio() const
{
    return state_->pcm;
}

void VideoInput::TakeAudio(std::vector<uint8_t>& bytes)
{
    if (state_->audio)
        state_->audio->Take(bytes);
}

uint64_t VideoInput::Repeated() const
{
    return state_->timing.Repeated();
}

uint64_t VideoInput::Dropped() const
{
    return state_->timing.Dropped();
}

std::shared_ptr<const AVFrame> VideoInput::NextPicture()
{
    State& s = *state_;
    for (;;) {
        if (s.previousLeft > 0) {
            --s.previousLeft;
            return s.previous;
        }
        if (s.currentLeft > 0) {
            --s.currentLeft;
            return s.current;
        }
        const AVFrame* decoded = s.Decode();
        if (decoded == nullptr)
            return nullptr;
        if (!s.resizeNoted && (decoded->width != s.width || decoded->height != s.height)) {
            s.resizeNoted = true;
            s.Note("the picture size changes from " + std::to_string(Width()) + "x" +
                   std::to_string(Height()) + " to " + std::to_string(decoded->width) + "x" +
                   std::to_string(decoded->height) + " at picture " +
                   std::to_string(s.pictures) + "; an AVI stream keeps one size, so it is "
                   "scaled to " + std::to_string(Width()) + "x" + std::to_string(Height()));
        }
        const double time = s.TimeOf(decoded);
        const double duration = FrameDuration(decoded) > 0
                                    ? static_cast<double>(FrameDuration(decoded)) * s.periodsPerTick
                                    : 1.0;
        s.lastTime = time;
        ++s.pictures;
        const ConstantRate::Slots slots = s.timing.Place(time, duration);
        AVFrame* copy = av_frame_clone(decoded);
        av_frame_unref(s.frame);
        if (copy == nullptr)
            s.Fail("out of memory");
        // The picture before stays while it still has repeats to give.
        if (s.current != nullptr)
            s.previous = std::move(s.current);
        s.previousLeft = s.previous != nullptr ? slots.previous : 0;
        s.current = std::shared_ptr<const AVFrame>(copy, FreeFrame);
        s.currentLeft = slots.current;
    }
}

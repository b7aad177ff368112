#include "audio_pcm.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

extern "C" {
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "media_util.h"

AudioPcm::AudioPcm(const AVStream& stream)
{
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    if (codec == nullptr)
        throw std::runtime_error("no decoder for its audio stream");
    decoder_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    if (decoder_ == nullptr || frame_ == nullptr)
        throw std::bad_alloc();
    avcodec_parameters_to_context(decoder_, stream.codecpar);
    decoder_->pkt_timebase = stream.time_base;
    int error = avcodec_open2(decoder_, codec, nullptr);
    if (error < 0)
        throw std::runtime_error("cannot open the " + std::string(codec->name) +
                                 " audio decoder: " + AvErrorText(error));
    if (decoder_->sample_rate <= 0 || decoder_->ch_layout.nb_channels <= 0)
        throw std::runtime_error("its audio stream does not say its rate or channels");
    channels_ = decoder_->ch_layout.nb_channels > 1 ? 2 : 1;
    sampleRate_ = static_cast<uint32_t>(decoder_->sample_rate);

    AVChannelLayout out;
    av_channel_layout_default(&out, static_cast<int>(channels_));
    error = swr_alloc_set_opts2(&resampler_, &out, AV_SAMPLE_FMT_S16, decoder_->sample_rate,
                                &decoder_->ch_layout, decoder_->sample_fmt,
                                decoder_->sample_rate, 0, nullptr);
    if (error >= 0)
        error = swr_init(resampler_);
    if (error < 0)
        throw std::runtime_error("cannot convert its audio to PCM: " + AvErrorText(error));
}

AudioPcm::~AudioPcm()
{
    swr_free(&resampler_);
    av_frame_free(&frame_);
    avcodec_free_context(&decoder_);
}

void AudioPcm::Align(double seconds)
{
    const auto samples = static_cast<int64_t>(std::llround(seconds * sampleRate_));
    const size_t bytes = static_cast<size_t>(samples < 0 ? -samples : samples) * channels_ * 2;
    if (samples > 0)
        pcm_.insert(pcm_.end(), bytes, 0);
    else
        dropBytes_ = bytes;
}

void AudioPcm::Send(const AVPacket* packet)
{
    const int error = avcodec_send_packet(decoder_, packet);
    if (error < 0 && error != AVERROR_EOF)
        ++damaged_;
    Receive();
    if (packet == nullptr) {
        // What the resampler still holds.
        const int64_t left = swr_get_delay(resampler_, sampleRate_);
        if (left > 0) {
            const size_t at = pcm_.size();
            pcm_.resize(at + static_cast<size_t>(left) * channels_ * 2);
            uint8_t* out = pcm_.data() + at;
            const int got = swr_convert(resampler_, &out, static_cast<int>(left), nullptr, 0);
            pcm_.resize(at + static_cast<size_t>(got > 0 ? got : 0) * channels_ * 2);
        }
    }
}

void AudioPcm::Receive()
{
    for (;;) {
        const int error = avcodec_receive_frame(decoder_, frame_);
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF)
            return;
        if (error < 0) {
            ++damaged_;
            return;
        }
        const int room = swr_get_out_samples(resampler_, frame_->nb_samples);
        const size_t at = pcm_.size();
        pcm_.resize(at + static_cast<size_t>(room > 0 ? room : 0) * channels_ * 2);
        uint8_t* out = pcm_.data() + at;
        const int got = swr_convert(resampler_, &out, room,
                                    const_cast<const uint8_t**>(frame_->extended_data),
                                    frame_->nb_samples);
        pcm_.resize(at + static_cast<size_t>(got > 0 ? got : 0) * channels_ * 2);
        av_frame_unref(frame_);
    }
}

void AudioPcm::Take(std::vector<uint8_t>& bytes)
{
    const size_t drop = std::min(dropBytes_, pcm_.size());
    pcm_.erase(pcm_.begin(), pcm_.begin() + static_cast<ptrdiff_t>(drop));
    dropBytes_ -= drop;
    bytes.insert(bytes.end(), pcm_.begin(), pcm_.end());
    pcm_.clear();
}

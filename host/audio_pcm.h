// One audio stream decoded to interleaved 16-bit PCM at its own sample
// rate, mono or stereo (more channels are mixed down to two), the form
// every AVI reader plays.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

class AudioPcm {
public:
    // Throws std::runtime_error when the stream cannot be decoded.
    explicit AudioPcm(const AVStream& stream);
    ~AudioPcm();
    AudioPcm(const AudioPcm&) = delete;
    AudioPcm& operator=(const AudioPcm&) = delete;

    uint32_t Channels() const { return channels_; }
    uint32_t SampleRate() const { return sampleRate_; }
    // Decoded packets the decoder refused; their sound is skipped.
    uint64_t Damaged() const { return damaged_; }

    // Shifts the sound by `seconds` against the pictures: silence before it
    // when positive, its start cut off when negative. Call before Send.
    void Align(double seconds);

    // Decodes one packet of the stream; null drains the decoder.
    void Send(const AVPacket* packet);
    // Appends the PCM decoded so far to `bytes`.
    void Take(std::vector<uint8_t>& bytes);

private:
    void Receive();

    AVCodecContext* decoder_ = nullptr;
    struct SwrContext* resampler_ = nullptr;
    AVFrame* frame_ = nullptr;
    uint32_t channels_ = 0;
    uint32_t sampleRate_ = 0;
    uint64_t damaged_ = 0;
    size_t dropBytes_ = 0;
    std::vector<uint8_t> pcm_;
};

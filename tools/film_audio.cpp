// Demuxing with libavformat, decoding with libavcodec, down-mixing (or taking the
// centre channel alone) and resampling to 16 kHz mono with libswresample, a chunk at
// a time into the speech detector: nothing of the sound is kept, so a film of any
// length takes the same memory.
#include "tools/film_audio.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "conv/speech.h"

namespace tools {
namespace {

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct ResamplerFreer {
    void operator()(SwrContext* s) const { swr_free(&s); }
};

std::string av_text(int code) {
    std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
    av_strerror(code, text.data(), text.size());
    return text.data();
}

// The index of the centre channel in a layout of three channels or more (a 5.1 or
// 7.1 film carries its dialogue there, the music and effects around it), or -1: mono
// is a centre channel too, and has nothing to leave out.
int centre_channel(const AVChannelLayout& layout) {
    if (layout.nb_channels < 3) return -1;
    return av_channel_layout_index_from_channel(&layout, AV_CHAN_FRONT_CENTER);
}

// Resamples decoded frames into the detector, set up again whenever the frames'
// rate, layout or sample format change: the centre channel alone where there is one,
// else all channels mixed down.
class Resampler {
  public:
    explicit Resampler(conv::SpeechDetector& detector) : detector_(detector) {}

    bool feed(const AVFrame* frame, std::string& error) {
        AVChannelLayout layout{};
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame->ch_layout.nb_channels < 1) {
            av_channel_layout_default(&layout, std::max(frame->ch_layout.nb_channels, 1));
        } else if (av_channel_layout_copy(&layout, &frame->ch_layout) < 0) {
            error = "out of memory";
            return false;
        }
        const bool same = swr_ && rate_ == frame->sample_rate && format_ == frame->format &&
                          av_channel_layout_compare(&layout, &layout_) == 0;
        if (!same && !setup(layout, frame->sample_rate, frame->format, error)) {
            av_channel_layout_uninit(&layout);
            return false;
        }
        av_channel_layout_uninit(&layout);
        return convert(const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples, error);
    }

    // The samples the resampler still holds.
    bool drain(std::string& error) { return !swr_ || convert(nullptr, 0, error); }

    ~Resampler() { av_channel_layout_uninit(&layout_); }

  private:
    bool setup(const AVChannelLayout& layout, int rate, int format, std::string& error) {
        if (swr_) drain(error);
        swr_.reset();
        av_channel_layout_uninit(&layout_);
        SwrContext* swr = nullptr;
        AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        AVChannelLayout in = layout;  // the call takes it by non-const pointer, unchanged
        int code = swr_alloc_set_opts2(&swr, &mono, AV_SAMPLE_FMT_S16, conv::kSpeechSampleRate, &in,
                                       static_cast<AVSampleFormat>(format), rate, 0, nullptr);
        swr_.reset(swr);
        if (const int centre = centre_channel(layout); code >= 0 && centre >= 0) {
            std::vector<double> matrix(static_cast<size_t>(layout.nb_channels), 0.0);
            matrix[static_cast<size_t>(centre)] = 1.0;
            code = swr_set_matrix(swr, matrix.data(), layout.nb_channels);
        }
        if (code >= 0) code = swr_init(swr);
        if (code < 0) {
            swr_.reset();
            error = "the sound cannot be resampled: " + av_text(code);
            return false;
        }
        av_channel_layout_copy(&layout_, &layout);
        rate_ = rate;
        format_ = format;
        return true;
    }

    bool convert(const uint8_t** in, int count, std::string& error) {
        for (;;) {
            const int room = swr_get_out_samples(swr_.get(), count);
            if (room <= 0) return true;
            if (out_.size() < static_cast<size_t>(room)) out_.resize(static_cast<size_t>(room));
            uint8_t* out = reinterpret_cast<uint8_t*>(out_.data());
            const int made = swr_convert(swr_.get(), &out, room, in, count);
            if (made < 0) {
                error = "the sound cannot be resampled: " + av_text(made);
                return false;
            }
            detector_.push(std::span<const int16_t>(out_.data(), static_cast<size_t>(made)));
            // Input is taken whole; flushing may take more than one call.
            if (in != nullptr || made == 0) return true;
        }
    }

    conv::SpeechDetector& detector_;
    std::unique_ptr<SwrContext, ResamplerFreer> swr_;
    AVChannelLayout layout_{};
    int rate_ = 0;
    int format_ = -1;
    std::vector<int16_t> out_;
};

}  // namespace

bool film_speech_spans(const std::string& path, std::vector<conv::TimeSpan>& spans,
                       std::string& about, std::string& error) {
    spans.clear();
    about.clear();
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext* opened = nullptr;
    int code = avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
    if (code < 0) {
        error = "FFmpeg cannot read it: " + av_text(code);
        return false;
    }
    std::unique_ptr<AVFormatContext, FormatCloser> format(opened);
    code = avformat_find_stream_info(format.get(), nullptr);
    if (code < 0) {
        error = "FFmpeg cannot read it: " + av_text(code);
        return false;
    }
    const AVCodec* codec = nullptr;
    const int stream_index =
        av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (stream_index < 0 || codec == nullptr) {
        error = stream_index == AVERROR_DECODER_NOT_FOUND ? "no decoder for its sound"
                                                          : "it has no sound";
        return false;
    }
    // Only the chosen stream's packets are wanted: the demuxer skips the others.
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (static_cast<int>(i) != stream_index) format->streams[i]->discard = AVDISCARD_ALL;
    const AVStream* stream = format->streams[stream_index];

    std::unique_ptr<AVCodecContext, CodecFreer> decoder(avcodec_alloc_context3(codec));
    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    if (!decoder || !packet || !frame) {
        error = "out of memory";
        return false;
    }
    code = avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    if (code >= 0) {
        decoder->thread_count = 1;
        // Decoders that can mix down themselves (AC-3, E-AC-3, DTS) do it far more
        // cheaply than decoding six channels and mixing after; others ignore it. Not
        // when there is a centre channel: the dialogue alone is wanted, without the
        // music and effects of the others.
        AVDictionary* settings = nullptr;
        if (centre_channel(stream->codecpar->ch_layout) < 0)
            av_dict_set(&settings, "downmix", "mono", 0);
        code = avcodec_open2(decoder.get(), codec, &settings);
        av_dict_free(&settings);
    }
    if (code < 0) {
        error = "its sound cannot be decoded: " + av_text(code);
        return false;
    }

    conv::SpeechDetector detector;
    Resampler resampler(detector);
    // Where the first decoded sound lies on the film's timeline (ms after its start).
    int64_t first_ms = -1;
    bool failed = false;
    auto receive = [&]() {
        while (!failed && avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            if (first_ms < 0) {
                first_ms = 0;
                const int64_t pts = frame->best_effort_timestamp;
                if (pts != AV_NOPTS_VALUE) {
                    int64_t start = av_rescale_q(pts, stream->time_base, AVRational{1, 1000});
                    if (format->start_time != AV_NOPTS_VALUE)
                        start -= av_rescale(format->start_time, 1000, AV_TIME_BASE);
                    first_ms = std::max<int64_t>(start, 0);
                }
            }
            failed = !resampler.feed(frame.get(), error);
            av_frame_unref(frame.get());
        }
    };
    while (!failed && av_read_frame(format.get(), packet.get()) >= 0) {
        // A damaged packet is skipped, as a player would.
        if (packet->stream_index == stream_index) avcodec_send_packet(decoder.get(), packet.get());
        av_packet_unref(packet.get());
        receive();
    }
    if (!failed) {
        avcodec_send_packet(decoder.get(), nullptr);
        receive();
    }
    if (!failed) failed = !resampler.drain(error);
    spans = detector.finish();
    if (failed) {
        spans.clear();
        return false;
    }
    if (first_ms < 0) {
        error = "its sound cannot be decoded";
        return false;
    }
    for (conv::TimeSpan& s : spans) {
        s.start_ms += first_ms;
        s.end_ms += first_ms;
    }
    const int channels = stream->codecpar->ch_layout.nb_channels;
    const std::string heard = centre_channel(stream->codecpar->ch_layout) >= 0
                                  ? "the centre channel of " + std::to_string(channels)
                              : channels <= 1 ? std::string("mono")
                                              : std::to_string(channels) + " channels mixed";
    about = "speech heard in sound stream " + std::to_string(stream_index) + " (" + heard +
            "): " + std::to_string(spans.size()) + " spans";
    return true;
}

}  // namespace tools

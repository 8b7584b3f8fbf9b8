// The first pictures of a picture stream; see first_pictures.h. Called by
// keep_video.cpp and interlace.cpp while a conversion is planned.
#include "first_pictures.h"

#include "av.h"
#include "input_guard.h"
#include "transcode.h"

namespace {

int open_picture_decoder(const AVStream *st, AVCodecContext **out)
{
    const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return AVERROR_DECODER_NOT_FOUND;
    AVCodecContext *dec = avcodec_alloc_context3(codec);
    if (!dec)
        return AVERROR(ENOMEM);
    int ret = avcodec_parameters_to_context(dec, st->codecpar);
    AVDictionary *opts = nullptr;
    if (ret >= 0)
        ret = limit_decoder_options(&opts);
    if (ret >= 0) {
        av_dict_set(&opts, "threads", "1", 0);
        ret = avcodec_open2(dec, codec, &opts);
    }
    av_dict_free(&opts);
    if (ret < 0)
        avcodec_free_context(&dec);
    *out = dec;
    return ret;
}

// Shows the frames the decoder has ready; false once the viewer has enough.
bool show_pictures(AVCodecContext *dec, AVFrame *frame, const std::function<bool(const AVFrame *)> &picture,
                   PictureLook *look, int most)
{
    while (avcodec_receive_frame(dec, frame) >= 0) {
        look->decoded++;
        const bool more = picture(frame) && look->decoded < most;
        av_frame_unref(frame);
        if (!more)
            return false;
    }
    return true;
}

int decode_pictures(AVFormatContext *ic, int index, AVCodecContext *dec, const PictureLookLimits &limits,
                    const std::function<bool(const AVFrame *)> &picture, PictureLook *look)
{
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    if (!pkt || !frame) {
        av_packet_free(&pkt);
        av_frame_free(&frame);
        return AVERROR(ENOMEM);
    }
    const int64_t start = ic->pb ? avio_tell(ic->pb) : 0;
    int packets = 0;
    bool more = true;
    while (more && packets < limits.packets) {
        if (ic->pb && avio_tell(ic->pb) - start > limits.bytes)
            break;
        if (av_read_frame(ic, pkt) < 0)
            break;
        if (pkt->stream_index == index) {
            packets++;
            look->timed = look->timed || pkt->pts != AV_NOPTS_VALUE;
            // Damaged data is no verdict: the next packets may decode.
            avcodec_send_packet(dec, pkt);
            more = show_pictures(dec, frame, picture, look, limits.pictures);
        }
        av_packet_unref(pkt);
    }
    // A stream with reordering holds pictures back until it is drained.
    if (more && avcodec_send_packet(dec, nullptr) >= 0)
        show_pictures(dec, frame, picture, look, limits.pictures);
    look->profile = dec->profile;
    look->level = dec->level;
    look->reordered = FFMAX(dec->has_b_frames, ic->streams[index]->codecpar->video_delay);
    av_packet_free(&pkt);
    av_frame_free(&frame);
    return 0;
}

// Moves the recording back to its start for whoever reads it next.
void rewind_recording(AVFormatContext *ic)
{
    const int64_t start = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
    if (avformat_seek_file(ic, -1, INT64_MIN, start, start, 0) >= 0)
        return;
    if (av_seek_frame(ic, -1, 0, AVSEEK_FLAG_BYTE) < 0)
        av_log(nullptr, AV_LOG_VERBOSE, "Could not move back to the start of the recording\n");
}

} // namespace

int look_at_first_pictures(AVFormatContext *ic, int index, const PictureLookLimits &limits,
                           const std::function<bool(const AVFrame *)> &picture, PictureLook *look)
{
    AVCodecContext *dec = nullptr;
    int ret = open_picture_decoder(ic->streams[index], &dec);
    if (ret < 0)
        return ret;
    // Only the picture is read while looking.
    AVDiscard *was = static_cast<AVDiscard *>(av_calloc(ic->nb_streams, sizeof(AVDiscard)));
    if (!was) {
        avcodec_free_context(&dec);
        return AVERROR(ENOMEM);
    }
    for (unsigned i = 0; i < ic->nb_streams; i++) {
        was[i] = ic->streams[i]->discard;
        if (int(i) != index)
            ic->streams[i]->discard = AVDISCARD_ALL;
    }
    ret = decode_pictures(ic, index, dec, limits, picture, look);
    for (unsigned i = 0; i < ic->nb_streams; i++)
        ic->streams[i]->discard = was[i];
    av_free(was);
    avcodec_free_context(&dec);
    rewind_recording(ic);
    return ret;
}

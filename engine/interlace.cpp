// Whether a picture is interlaced; see interlace.h. Its first pictures go
// through the libraries' interlace detector (idet) in a graph of their own,
// and what the frames themselves say is counted on the way. Called by
// plan_conversion only.
#include "interlace.h"

#include "av.h"
#include "first_pictures.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

// buffer -> idet -> buffersink for pictures like `frame`.
struct DetectorGraph {
    AVFilterGraph *graph = nullptr;
    AVFilterContext *source = nullptr;
    AVFilterContext *sink = nullptr;

    ~DetectorGraph() { avfilter_graph_free(&graph); }

    int open(const AVFrame *frame, AVRational time_base)
    {
        graph = avfilter_graph_alloc();
        if (!graph)
            return AVERROR(ENOMEM);
        graph->nb_threads = 1;
        const AVRational sar = frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio : AVRational{1, 1};
        const std::string args = "video_size=" + std::to_string(frame->width) + "x" + std::to_string(frame->height) +
                                 ":pix_fmt=" + std::to_string(frame->format) + ":time_base=" +
                                 std::to_string(time_base.num) + "/" + std::to_string(time_base.den) +
                                 ":pixel_aspect=" + std::to_string(sar.num) + "/" + std::to_string(sar.den);
        AVFilterContext *idet = nullptr;
        int ret = avfilter_graph_create_filter(&source, avfilter_get_by_name("buffer"), "in", args.c_str(),
                                               nullptr, graph);
        if (ret >= 0)
            ret = avfilter_graph_create_filter(&idet, avfilter_get_by_name("idet"), "idet", nullptr, nullptr, graph);
        if (ret >= 0)
            ret = avfilter_graph_create_filter(&sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                               graph);
        if (ret >= 0)
            ret = avfilter_link(source, 0, idet, 0);
        if (ret >= 0)
            ret = avfilter_link(idet, 0, sink, 0);
        if (ret >= 0)
            ret = avfilter_graph_config(graph, nullptr);
        return ret;
    }
};

// The detector's judgement of one frame it passed on ("tff", "bff",
// "progressive", "undetermined").
void count_judgement(const AVFrame *out, InterlaceFinding *found)
{
    const AVDictionaryEntry *e = av_dict_get(out->metadata, "lavfi.idet.multiple.current_frame", nullptr, 0);
    if (!e)
        return;
    const std::string judged = e->value;
    if (judged == "tff" || judged == "bff")
        found->fields++;
    else if (judged == "progressive")
        found->progressive++;
}

bool stream_says_interlaced(const AVStream *st)
{
    const AVFieldOrder order = st->codecpar->field_order;
    return order == AV_FIELD_TT || order == AV_FIELD_BB || order == AV_FIELD_TB || order == AV_FIELD_BT;
}

} // namespace

void add_comb(const uint8_t *luma, int linesize, int width, int height, double *across, double *along)
{
    for (int y = 1; y + 2 < height; y++) {
        const uint8_t *above = luma + (y - 1) * linesize, *row = above + linesize;
        const uint8_t *below = row + linesize, *next = below + linesize;
        int64_t a = 0, b = 0;
        for (int x = 0; x < width; x++) {
            a += std::abs(2 * row[x] - above[x] - below[x]);
            b += std::abs(row[x] - next[x]);
        }
        *across += double(a);
        *along += double(b);
    }
}

int interlace_pictures_for(int width, int height)
{
    const int64_t d1 = 720 * 576;
    const int64_t area = int64_t(std::max(1, width)) * std::max(1, height);
    const int64_t pictures = INTERLACE_PICTURES_LOOKED * d1 / std::max(d1, area);
    return int(std::max<int64_t>(INTERLACE_FEWEST_PICTURES, pictures));
}

Interlacing judge_interlacing(bool stream_flagged, const InterlaceFinding &counts)
{
    if (stream_flagged || counts.flagged > 0)
        return Interlacing::Flagged;
    if (counts.fields >= INTERLACE_FIELDS_NEEDED && counts.fields > counts.progressive &&
        counts.comb > INTERLACE_COMB_NEEDED)
        return Interlacing::Detected;
    return Interlacing::Progressive;
}

std::string deinterlace_filter(Interlacing interlacing)
{
    switch (interlacing) {
    case Interlacing::Progressive:
        break;
    case Interlacing::Flagged:
        return "bwdif=mode=send_frame:parity=auto:deint=interlaced";
    case Interlacing::Detected:
        return "bwdif=mode=send_frame:parity=auto:deint=all";
    }
    return "";
}

int find_interlacing(AVFormatContext *ic, int index, InterlaceFinding *found)
{
    *found = InterlaceFinding();
    const AVStream *st = ic->streams[index];
    DetectorGraph detector;
    AVFrame *out = av_frame_alloc();
    AVFrame *copy = av_frame_alloc();
    if (!out || !copy) {
        av_frame_free(&out);
        av_frame_free(&copy);
        return AVERROR(ENOMEM);
    }
    int graph_error = 0;
    PictureLookLimits limits;
    limits.pictures = interlace_pictures_for(st->codecpar->width, st->codecpar->height);
    limits.packets = 4 * limits.pictures;
    PictureLook look;
    int64_t next_pts = 0;
    double across = 0, along = 0;
    const AVPixFmtDescriptor *desc = nullptr;
    const int ret = look_at_first_pictures(ic, index, limits, [&](const AVFrame *frame) {
        found->pictures++;
        found->flagged += frame->interlaced_frame ? 1 : 0;
        desc = av_pix_fmt_desc_get(AVPixelFormat(frame->format));
        // Planar formats of 8-bit samples (the usual camera pictures) are measured.
        if (desc && (desc->flags & AV_PIX_FMT_FLAG_PLANAR) && desc->comp[0].depth == 8 &&
            !(desc->flags & AV_PIX_FMT_FLAG_RGB))
            add_comb(frame->data[0], frame->linesize[0], frame->width, frame->height, &across, &along);
        if (graph_error < 0)
            return true;
        if (!detector.graph && (graph_error = detector.open(frame, AVRational{1, 25})) < 0)
            return true;
        // The detector only needs the pictures in order: counted times will do.
        if ((graph_error = av_frame_ref(copy, frame)) < 0)
            return true;
        copy->pts = next_pts++;
        graph_error = av_buffersrc_add_frame_flags(detector.source, copy, AV_BUFFERSRC_FLAG_KEEP_REF);
        av_frame_unref(copy);
        while (graph_error >= 0 && av_buffersink_get_frame(detector.sink, out) >= 0) {
            count_judgement(out, found);
            av_frame_unref(out);
        }
        return true;
    }, &look);
    av_frame_free(&out);
    av_frame_free(&copy);
    if (graph_error < 0)
        av_log(nullptr, AV_LOG_VERBOSE, "The interlace detector could not look at stream #%d\n", index);
    found->comb = along > 0 ? across / along : 0;
    found->interlacing = judge_interlacing(stream_says_interlaced(st), *found);
    return ret;
}

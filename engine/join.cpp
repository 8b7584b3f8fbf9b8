// A recorder export's segments joined into one file; see join.h. This file
// looks at the segments, orders them, places the gaps and runs the join; the
// engine's words come from join_graph.cpp. Called by the batch command's join
// jobs and the window.
#include "join.h"

#include "evidence.h"
#include "interlace.h"
#include "join_graph.h"
#include "keep_video.h"
#include "media_scan.h"
#include "recording_time.h"

#include <algorithm>
#include <cctype>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// What a picture's coding must share with the other segments' to be copied
// into the same stream: the stream's place, codec, profile, level, size,
// sample format and shape, and its parameter sets.
std::string picture_params_of(const AVStream *st)
{
    const AVCodecParameters *p = st->codecpar;
    std::string params = std::to_string(st->index) + " " + avcodec_get_name(p->codec_id) + " " +
                         std::to_string(p->profile) + "/" + std::to_string(p->level) + " " +
                         std::to_string(p->width) + "x" + std::to_string(p->height) + " " +
                         std::to_string(p->format) + " " + std::to_string(p->sample_aspect_ratio.num) + ":" +
                         std::to_string(p->sample_aspect_ratio.den) + " " + std::to_string(p->field_order) + " ";
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < p->extradata_size; i++)
        params += {hex[p->extradata[i] >> 4], hex[p->extradata[i] & 15]};
    return params;
}

// Fills in what the segment's container says; on the probing thread.
void look_at_segment(AVFormatContext *ic, bool keep_asked, JoinSegment *found)
{
    found->format = ic->iformat->name;
    found->start_us = container_creation_time(ic);
    found->video_stream = chosen_video_stream(ic);
    if (found->video_stream >= 0) {
        const AVStream *st = ic->streams[found->video_stream];
        const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
        found->width = st->codecpar->width;
        found->height = st->codecpar->height;
        found->rate_num = rate.num;
        found->rate_den = rate.den;
        InterlaceFinding interlace;
        if (!(st->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
            find_interlacing(ic, found->video_stream, &interlace) >= 0)
            found->interlacing = interlace.interlacing;
        if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) {
            found->video_stream = -1;
            found->width = found->height = 0;
        }
    }
    if (keep_asked && found->video_stream >= 0) {
        found->keep_refusal = decide_keep_video(ic).refusal;
        if (found->keep_refusal.empty() && found->interlacing != Interlacing::Progressive)
            found->keep_refusal = "the picture is interlaced";
        found->picture_params = picture_params_of(ic->streams[found->video_stream]);
    }
    found->audio_stream = av_find_best_stream(ic, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (found->audio_stream >= 0) {
        const AVCodecParameters *par = ic->streams[found->audio_stream]->codecpar;
        found->sample_rate = par->sample_rate;
        found->channels = par->ch_layout.nb_channels;
    }
}

// Looks at one segment.
JoinSegment look_at(const std::string &source, bool keep_asked)
{
    auto found = std::make_shared<JoinSegment>();
    MediaProbe probe;
    const int ret = probe_media_file(source, &probe, nullptr,
                                     [found, keep_asked](AVFormatContext *ic) { look_at_segment(ic, keep_asked, found.get()); });
    JoinSegment segment = ret < 0 ? JoinSegment() : *found;
    segment.source = source;
    if (ret < 0) {
        segment.left_out = "it could not be read (" + av_error_words(ret) + ")";
        return segment;
    }
    if (segment.video_stream < 0 && segment.audio_stream < 0) {
        segment.left_out = "it holds no picture or sound";
        return segment;
    }
    segment.duration_us = probe.duration_us;
    segment.start_us = recording_start_time(source, probe.format, segment.start_us);
    return segment;
}

// The first joined segment with a picture, and with sound; nullptr when none.
template <typename Pred>
const JoinSegment *first_joined(const std::vector<JoinSegment> &segments, Pred has)
{
    for (const JoinSegment &s : segments)
        if (s.left_out.empty() && has(s))
            return &s;
    return nullptr;
}

} // namespace

bool natural_less(const std::string &a, const std::string &b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isdigit((unsigned char)a[i]) && isdigit((unsigned char)b[j])) {
            size_t ei = i, ej = j;
            while (ei < a.size() && isdigit((unsigned char)a[ei]))
                ei++;
            while (ej < b.size() && isdigit((unsigned char)b[ej]))
                ej++;
            size_t zi = i, zj = j; // leading zeros
            while (zi + 1 < ei && a[zi] == '0')
                zi++;
            while (zj + 1 < ej && b[zj] == '0')
                zj++;
            if (ei - zi != ej - zj)
                return ei - zi < ej - zj;
            const int order = a.compare(zi, ei - zi, b, zj, ej - zj);
            if (order != 0)
                return order < 0;
            if (ei - i != ej - j)
                return ei - i > ej - j; // more leading zeros first
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return (unsigned char)a[i] < (unsigned char)b[j];
        i++;
        j++;
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::string> join_order(const std::vector<std::string> &sources)
{
    JoinPlan plan;
    for (const std::string &source : sources) {
        JoinSegment segment;
        segment.source = source;
        auto start = std::make_shared<int64_t>(-1);
        MediaProbe probe;
        if (probe_media_file(source, &probe, nullptr,
                             [start](AVFormatContext *ic) { *start = container_creation_time(ic); }) >= 0) {
            segment.start_us = recording_start_time(source, probe.format, *start);
        } else {
            segment.left_out = "it could not be read"; // placed by name, as the join will
        }
        plan.segments.push_back(segment);
    }
    order_segments(&plan);
    std::vector<std::string> ordered;
    for (const JoinSegment &s : plan.segments)
        ordered.push_back(s.source);
    return ordered;
}

void order_segments(JoinPlan *plan)
{
    std::vector<JoinSegment> &s = plan->segments;
    plan->by_time = std::any_of(s.begin(), s.end(), [](const JoinSegment &x) { return x.left_out.empty(); }) &&
                    std::all_of(s.begin(), s.end(),
                                [](const JoinSegment &x) { return !x.left_out.empty() || x.start_us >= 0; });
    const auto by_name = [](const JoinSegment &x, const JoinSegment &y) {
        return natural_less(segment_name(x.source), segment_name(y.source)) ||
               (!natural_less(segment_name(y.source), segment_name(x.source)) && x.source < y.source);
    };
    if (!plan->by_time) {
        std::stable_sort(s.begin(), s.end(), by_name);
        return;
    }
    // Left-out segments have no time: they stay where their names put them
    // among the others.
    std::vector<JoinSegment> timed, untimed;
    for (JoinSegment &x : s)
        (x.left_out.empty() ? timed : untimed).push_back(std::move(x));
    std::stable_sort(timed.begin(), timed.end(), [&](const JoinSegment &x, const JoinSegment &y) {
        return x.start_us != y.start_us ? x.start_us < y.start_us : by_name(x, y);
    });
    s = std::move(timed);
    for (JoinSegment &x : untimed) {
        auto at = std::find_if(s.begin(), s.end(), [&](const JoinSegment &y) { return by_name(x, y); });
        s.insert(at, std::move(x));
    }
}

void place_gaps(JoinPlan *plan)
{
    plan->problems.clear();
    int64_t position = 0;
    bool length_known = true;
    const JoinSegment *previous = nullptr;
    for (JoinSegment &s : plan->segments) {
        s.held_before_us = s.closed_before_us = 0;
        const std::string name = segment_name(s.source);
        if (!s.left_out.empty()) {
            plan->problems.push_back(
                run_problem(RunProblemKind::SegmentLeftOut, 0, 0, name + " is left out: " + s.left_out, name));
            continue;
        }
        if (previous && previous->start_us >= 0 && previous->duration_us >= 0 && s.start_us >= 0) {
            const int64_t gap = s.start_us - (previous->start_us + previous->duration_us);
            if (gap > JOIN_KEPT_GAP_US) {
                s.closed_before_us = gap;
                plan->problems.push_back(run_problem(RunProblemKind::TimelineGap, gap, position,
                                                     "the recording's time jumps by " + media_clock_text(gap) +
                                                         " at " + media_clock_text(position) + " (before " + name +
                                                         "); the gap is not kept",
                                                     name));
            } else if (gap > 0) {
                s.held_before_us = gap;
                position += gap;
            }
        }
        if (s.duration_us >= 0)
            position += s.duration_us;
        else
            length_known = false;
        previous = &s;
    }
    plan->expected_us = length_known ? position : -1;
}

int plan_join(const std::vector<std::string> &sources, const std::string &output, const ConversionChoices &choices,
              JoinPlan *join, ConversionPlan *plan)
{
    *join = JoinPlan();
    *plan = ConversionPlan();
    for (const std::string &source : sources)
        join->segments.push_back(look_at(source, choices.keep_video));
    order_segments(join);
    place_gaps(join);

    std::vector<const JoinSegment *> joined;
    for (const JoinSegment &s : join->segments)
        if (s.left_out.empty())
            joined.push_back(&s);
    if (joined.empty())
        return AVERROR_INVALIDDATA;

    JoinTarget target;
    target.time = choices.time_in_picture;
    const JoinSegment *picture = first_joined(join->segments, [](const JoinSegment &s) { return s.width > 0; });
    const JoinSegment *sound = first_joined(join->segments, [](const JoinSegment &s) { return s.sample_rate > 0; });
    target.picture = picture != nullptr;
    target.sound = sound != nullptr;
    if (picture) {
        target.width = picture->width + (picture->width & 1);
        target.height = picture->height + (picture->height & 1);
        if (picture->rate_num > 0)
            target.rate = std::to_string(picture->rate_num) + "/" + std::to_string(picture->rate_den);
    }
    if (sound) {
        target.sample_rate = sound->sample_rate;
        target.layout = sound->channels >= 2 ? "stereo" : "mono";
    }
    const JoinSegment &first = *joined.front();
    const bool time_asked = choices.time_in_picture != ConversionChoices::TimeInPicture::Off;
    plan->time_shown = time_asked && picture && first.start_us >= 0;
    if (time_asked)
        plan->time_refusal = !picture ? "the recording has no picture"
                             : first.start_us < 0 ? "the recording's start time is not known"
                                                  : "";
    if (choices.keep_video && picture) {
        // A picture with the time drawn into it is a new picture.
        plan->keep_refusal = plan->time_shown ? "the recording's time is drawn into the picture"
                                              : kept_join_refusal(joined);
        plan->video_kept = plan->keep_refusal.empty();
    }

    std::vector<std::string> words = {"ffmpeg"};
    std::vector<std::string> streams;
    if (plan->video_kept) {
        join->segment_list = segment_list_url(joined);
        streams = kept_join_words(joined, target, join->segment_list);
    } else {
        streams = converted_join_words(joined, target);
    }
    words.insert(words.end(), streams.begin(), streams.end());

    // The joined file's time is the first segment's.
    if (first.start_us >= 0) {
        plan->recording_time = iso_utc_text(first.start_us);
        plan->recording_time_us = first.start_us;
        plan->time_source = RecordingTimeSource::Container;
        words.insert(words.end(), {"-metadata", "creation_time=" + plan->recording_time});
    }
    words.insert(words.end(), {"-strict", "-2", file_path_argument(output)});
    plan->words = words;
    plan->video_codec = picture ? "joined" : "";
    plan->audio_codec = sound ? "joined" : "";
    for (const JoinSegment *s : joined)
        if (s->interlacing != Interlacing::Progressive)
            plan->interlacing = s->interlacing;
    for (const JoinSegment &s : join->segments)
        plan->joined.push_back(s.source);
    plan->joined_by_time = join->by_time;
    return 0;
}

namespace {

// After a join that wrote its file: the record beside it, every segment
// joined hashed (read again: the engine read several files at once).
void write_join_record(const JoinPlan &join, const EvidenceFacts &times, ConversionResult *result)
{
    EvidenceFacts facts = times;
    for (const JoinSegment &s : join.segments) {
        if (!s.left_out.empty())
            continue;
        FileDigest digest;
        const int ret = sha256_of_file(s.source, &digest);
        if (ret < 0) {
            result->evidence_error = "the segment " + s.source + " could not be hashed: " + av_error_words(ret);
            return;
        }
        facts.segments.push_back({evidence_path_of(s.source), digest});
    }
    facts.source_path = facts.segments.front().first;
    facts.source = facts.segments.front().second;
    write_record_beside_output(facts, result);
}

} // namespace

int run_join(const std::vector<std::string> &sources, const std::string &output, const ConversionChoices &choices,
             const RunObserver &observer, ConversionResult *result, JoinPlan *join, EngineEntry engine)
{
    *result = ConversionResult();
    if (plan_join(sources, output, choices, join, &result->plan) < 0) {
        result->outcome.status = 1;
        result->outcome.end = RunEnd::Failed;
        result->outcome.failure = RunFailure::SourceUnreadable;
        result->outcome.error_text = join->problems.empty() ? "no segment could be read" : join->problems.front().text;
        return -1;
    }
    RunObserver run_observer = observer;
    run_observer.expected_duration_us = join->expected_us;
    run_observer.own_segment_list = join->segment_list;
    EvidenceFacts times;
    const int status = run_plan_words(result->plan, run_observer, &result->outcome, engine, &times.started_us,
                                      &times.ended_us);
    RunOutcome &outcome = result->outcome;
    if (outcome.end == RunEnd::Completed) {
        // What the plan knew before the run: left-out segments, closed gaps.
        outcome.problems.insert(outcome.problems.begin(), join->problems.begin(), join->problems.end());
        outcome.partial = !outcome.problems.empty();
    }
    if (choices.evidence && outcome.end == RunEnd::Completed && !outcome.outputs.empty())
        write_join_record(*join, times, result);
    return status;
}

// The converter's conversion of one recording: its plan, the run, and the
// evidence record. See conversion.h; the window's worker and the batch
// command's jobs call run_conversion().
#include "conversion.h"

#include "burn_time.h"
#include "evidence.h"
#include "keep_video.h"
#include "media_scan.h"
#include "recording_time.h"
#include "source_mark.h"

#include <climits>
#include <cstdlib>
#include <memory>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/time.h>
}

namespace {

// What the look at the recording found; shared with the probing thread, which
// may outlive the plan when the probe is given up on.
struct LookedAt {
    KeepDecision keep;
    Interlacing interlacing = Interlacing::Progressive;
    int picture_height = 0;
    int64_t creation_us = -1;
    std::string video_codec;
    std::string audio_codec;
};

std::string codec_name(const AVFormatContext *ic, AVMediaType type, int preferred)
{
    int index = preferred;
    if (index < 0)
        index = av_find_best_stream(const_cast<AVFormatContext *>(ic), type, -1, -1, nullptr, 0);
    if (index < 0)
        return "";
    return avcodec_get_name(ic->streams[index]->codecpar->codec_id);
}

void look_at(AVFormatContext *ic, bool keep_asked, LookedAt *found)
{
    found->creation_us = container_creation_time(ic);
    const int video = chosen_video_stream(ic);
    InterlaceFinding interlace;
    if (video >= 0)
        found->picture_height = ic->streams[video]->codecpar->height;
    if (video >= 0 && !(ic->streams[video]->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
        find_interlacing(ic, video, &interlace) >= 0)
        found->interlacing = interlace.interlacing;
    if (keep_asked)
        found->keep = decide_keep_video(ic);
    // Fields the stream does not mark are found by the detector only: such a
    // picture is not one to keep either.
    if (found->keep.keep_video && found->interlacing != Interlacing::Progressive) {
        found->keep.keep_video = false;
        found->keep.copy_audio = false;
        found->keep.refusal = "the picture is interlaced";
    }
    found->video_codec = codec_name(ic, AVMEDIA_TYPE_VIDEO, found->keep.video_stream);
    found->audio_codec = codec_name(ic, AVMEDIA_TYPE_AUDIO, -1);
}

void set_recording_time(ConversionPlan *plan, const std::string &source, const MediaProbe &probe,
                        int64_t creation_us)
{
    bool from_recorder = false;
    creation_us = recording_start_time(source, probe.format, creation_us, &from_recorder);
    if (creation_us >= 0) {
        plan->time_source = from_recorder ? RecordingTimeSource::RecorderClock : RecordingTimeSource::Container;
        plan->recording_time = iso_utc_text(creation_us);
        plan->recording_time_us = creation_us;
    }
}

// Why the time asked for cannot be drawn into the picture; "" when it can.
std::string time_refusal(const ConversionPlan &plan, int looked, int picture_height)
{
    if (looked < 0)
        return "the recording could not be looked at";
    if (picture_height <= 0)
        return "the recording has no picture";
    if (plan.recording_time_us < 0)
        return "the recording's start time is not known";
    if (access(TIME_FONT_PATH, R_OK) != 0)
        return std::string("the font ") + TIME_FONT_PATH + " is missing";
    return "";
}

std::string joined(const std::vector<std::string> &parts, char separator)
{
    std::string text;
    for (const std::string &part : parts)
        text += (text.empty() ? "" : std::string(1, separator)) + part;
    return text;
}

std::vector<std::string> kept_picture_words(const std::string &source, const std::string &output, bool copy_audio)
{
    return {"ffmpeg", "-i", file_path_argument(source), "-c:v", "copy", "-c:a", copy_audio ? "copy" : "aac",
            "-strict", "-2", file_path_argument(output)};
}

int64_t wall_clock_us()
{
    return av_gettime();
}

// After a run that wrote its file: the record beside it.
void write_record(const std::string &source, FollowingHasher *hasher, const EvidenceFacts &times,
                  ConversionResult *result)
{
    EvidenceFacts facts = times;
    facts.source_path = evidence_path_of(source);
    const int ret = hasher->finish(&facts.source);
    if (ret < 0) {
        result->evidence_error = "the recording could not be hashed: " + av_error_words(ret);
        return;
    }
    write_record_beside_output(facts, result);
}

} // namespace

ConversionPlan plan_conversion(const std::string &source, const std::string &output,
                               const ConversionChoices &choices)
{
    ConversionPlan plan;
    auto found = std::make_shared<LookedAt>();
    MediaProbe probe;
    const bool keep_asked = choices.keep_video;
    const int looked = probe_media_file(source, &probe, nullptr,
                                        [found, keep_asked](AVFormatContext *ic) { look_at(ic, keep_asked, found.get()); });
    if (looked >= 0) {
        set_recording_time(&plan, source, probe, found->creation_us);
        plan.video_codec = found->video_codec;
        plan.audio_codec = found->audio_codec;
        plan.interlacing = found->interlacing;
    }
    const bool time_asked = choices.time_in_picture != ConversionChoices::TimeInPicture::Off;
    if (time_asked) {
        plan.time_refusal = time_refusal(plan, looked, found->picture_height);
        plan.time_shown = plan.time_refusal.empty();
    }
    // A picture with the time drawn into it is a new picture.
    if (plan.time_shown && found->keep.keep_video) {
        found->keep.keep_video = false;
        found->keep.refusal = "the recording's time is drawn into the picture";
    }
    if (keep_asked && looked >= 0 && found->keep.keep_video) {
        plan.video_kept = true;
        plan.audio_kept = found->keep.copy_audio;
        plan.words = kept_picture_words(source, output, plan.audio_kept);
    } else {
        if (keep_asked)
            plan.keep_refusal = looked < 0 ? "the recording could not be looked at" : found->keep.refusal;
        plan.words = converter_arguments(source, output);
        std::vector<std::string> filters;
        if (plan.interlacing != Interlacing::Progressive)
            filters.push_back(deinterlace_filter(plan.interlacing));
        if (plan.time_shown)
            filters.push_back(recording_time_filter(
                plan.recording_time_us, choices.time_in_picture == ConversionChoices::TimeInPicture::Utc,
                found->picture_height));
        if (!filters.empty())
            plan.words.insert(plan.words.end() - 1, {"-vf", joined(filters, ',')});
    }
    if (!plan.recording_time.empty())
        plan.words.insert(plan.words.end() - 1, {"-metadata", "creation_time=" + plan.recording_time});
    const std::string mark = choices.mark_source ? source_mark(source) : "";
    if (!mark.empty())
        plan.words.insert(plan.words.end() - 1, {"-metadata", std::string("comment=") + mark});
    return plan;
}

int run_plan_words(const ConversionPlan &plan, const RunObserver &observer, RunOutcome *outcome,
                   EngineEntry engine, int64_t *started_us, int64_t *ended_us)
{
    std::vector<std::string> words = plan.words;
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);
    *started_us = wall_clock_us();
    const int status = engine(int(words.size()), argv.data(), &observer, outcome);
    *ended_us = wall_clock_us();
    return status;
}

int run_conversion(const std::string &source, const std::string &output, const ConversionChoices &choices,
                   const RunObserver &observer, ConversionResult *result, EngineEntry engine)
{
    *result = ConversionResult();
    result->plan = plan_conversion(source, output, choices);
    RunObserver run_observer = observer;
    std::atomic<int64_t> source_position{0};
    std::unique_ptr<FollowingHasher> hasher;
    if (choices.evidence) {
        run_observer.source_read_position = &source_position;
        hasher.reset(new FollowingHasher(source, &source_position));
    }
    EvidenceFacts times;
    const int status = run_plan_words(result->plan, run_observer, &result->outcome, engine, &times.started_us,
                                      &times.ended_us);
    if (hasher && result->outcome.end == RunEnd::Completed && !result->outcome.outputs.empty())
        write_record(source, hasher.get(), times, result);
    return status;
}

std::string plan_summary(const ConversionPlan &plan, const ConversionChoices &choices)
{
    if (plan.video_kept)
        return plan.audio_codec.empty() ? "picture kept"
               : plan.audio_kept        ? "picture and sound kept"
                                        : "picture kept, sound converted to AAC";
    const std::string deinterlaced = plan.interlacing == Interlacing::Progressive ? "" : ", deinterlaced";
    if (choices.keep_video)
        return "picture converted" + deinterlaced + " (" + plan.keep_refusal + ")";
    return "converted" + deinterlaced;
}

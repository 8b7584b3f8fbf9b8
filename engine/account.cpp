// How much of its source a run got: damaged packets, decode errors, how far into
// each input file reading went, streams left out and jumps in the recording's
// time, judged once at the end into problems in plain words. A run that wrote a
// complete file but met any of them is partial: the file plays, yet it is not the
// whole recording, and the window, the batch command and the engine's command
// line say so.
//
// The loop, the decoders and stream choice report here (observe.h); the final
// report calls account_judge(); settle_outcome() copies the judgement.
#include "engine.h"
#include "observe.h"

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// A run that converted less than this share of the length the recording
// declares fell clearly short, when the gap is also longer than this: container
// lengths run over the last picture by a frame or an audio block, and rounding
// must not make a whole recording partial.
constexpr double kShortShare = 0.95;
constexpr int64_t kShortSlackUs = 500000;
// Reading that ended before this share of a file's bytes, and more than this
// many bytes before its end, ended early: indexes and tags behind the media
// (an MP4's index at its end) are read when the file opens, or are small.
constexpr double kReadShare = 0.95;
constexpr int64_t kReadSlackBytes = 64 * 1024;

struct InputAccount {
    const AVFormatContext *ctx = nullptr;
    int64_t size = -1;
    int64_t reached = -1;
    int error = 0; // the read error that ended it
};

std::vector<InputAccount> inputs;
int64_t damaged_packets;
int64_t decode_errors;
std::vector<RunProblem> noted; // gaps and streams left out, in the order met
std::vector<RunProblem> judged;
int64_t judged_expected_us = -1, judged_converted_us = -1;
bool was_judged;

InputAccount &account_of(const InFile *ifile)
{
    for (InputAccount &a : inputs)
        if (a.ctx == ifile->ctx)
            return a;
    inputs.push_back(InputAccount());
    inputs.back().ctx = ifile->ctx;
    return inputs.back();
}

void note_position(InputAccount &a, const InFile *ifile)
{
    AVIOContext *pb = ifile->ctx->pb;
    if (!pb || (ifile->ctx->flags & AVFMT_FLAG_CUSTOM_IO))
        return;
    const int64_t at = avio_tell(pb);
    if (at > a.reached)
        a.reached = at;
    if (nb_input_files && ifile == input_files[0])
        observe_source_position(pb->pos);
}

std::string percent_text(int64_t part, int64_t whole)
{
    return std::to_string(whole > 0 ? int(part * 100 / whole) : 0) + " %";
}


std::string count_text(int64_t n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

bool account_clearly_short(int64_t converted_us, int64_t expected_us)
{
    return expected_us > 0 && converted_us >= 0 && double(converted_us) < kShortShare * double(expected_us) &&
           expected_us - converted_us > kShortSlackUs;
}

bool account_ended_early(int64_t reached, int64_t size)
{
    return size > 0 && reached >= 0 && double(reached) < kReadShare * double(size) && size - reached > kReadSlackBytes;
}

void account_begin(void)
{
    inputs.clear();
    damaged_packets = decode_errors = 0;
    noted.clear();
    judged.clear();
    judged_expected_us = judged_converted_us = -1;
    was_judged = false;
}

void account_packet(const InFile *ifile, const AVPacket *pkt)
{
    if (pkt->flags & AV_PKT_FLAG_CORRUPT)
        damaged_packets++;
    note_position(account_of(ifile), ifile);
}

void account_read_error(const InFile *ifile, int error)
{
    InputAccount &a = account_of(ifile);
    if (!a.error)
        a.error = error;
    damaged_packets++;
}

void account_input_ended(const InFile *ifile)
{
    InputAccount &a = account_of(ifile);
    note_position(a, ifile);
    AVIOContext *pb = ifile->ctx->pb;
    if (pb && !(ifile->ctx->flags & AVFMT_FLAG_CUSTOM_IO) && (pb->seekable & AVIO_SEEKABLE_NORMAL))
        a.size = avio_size(pb);
}

void account_decode_error(const InStream *ist)
{
    if (ist->frames_decoded > 0)
        decode_errors++;
}

void account_timeline_gap(int64_t jump_us, int64_t at_us)
{
    noted.push_back(run_problem(RunProblemKind::TimelineGap, jump_us, at_us,
                            "the recording's time jumps by " + media_clock_text(jump_us) + " at " +
                                media_clock_text(at_us) + "; the gap is not kept"));
}

void account_stream_left_out(const InStream *ist, const char *why)
{
    const char *type = av_get_media_type_string(ist->st->codecpar->codec_type);
    RunProblem p = run_problem(RunProblemKind::StreamLeftOut, ist->st->index, 0,
                           std::string("the recording's ") + (type ? type : "stream") + " (stream #" +
                               std::to_string(ist->file_index) + ":" + std::to_string(ist->st->index) +
                               ") is left out: " + why);
    p.detail = type ? type : "";
    noted.push_back(p);
}

void account_judge(int64_t converted_us, int64_t expected_us, bool cut)
{
    judged.clear();
    was_judged = true;
    judged_converted_us = converted_us;
    judged_expected_us = expected_us;
    if (!cut && account_clearly_short(converted_us, expected_us))
        judged.push_back(run_problem(RunProblemKind::ShortOfDeclaredLength, converted_us, expected_us,
                                 "only " + media_clock_text(converted_us) + " of the recording's " +
                                     media_clock_text(expected_us) + " could be read"));
    for (const InputAccount &a : inputs) {
        if (cut || !account_ended_early(a.reached, a.size))
            continue;
        std::string text = "reading stopped at " + percent_text(a.reached, a.size) + " of the file";
        if (a.error) {
            char reason[AV_ERROR_MAX_STRING_SIZE];
            av_strerror(a.error, reason, sizeof(reason));
            text += std::string(" (") + reason + ")";
        }
        judged.push_back(run_problem(RunProblemKind::ReadingStoppedEarly, a.reached, a.size, text));
    }
    if (damaged_packets)
        judged.push_back(run_problem(RunProblemKind::DamagedPackets, damaged_packets, 0,
                                 count_text(damaged_packets, "damaged packet", "damaged packets") +
                                     " in the recording"));
    if (decode_errors)
        judged.push_back(run_problem(RunProblemKind::DecodeErrors, decode_errors, 0,
                                 count_text(decode_errors, "picture or block of sound", "pictures or blocks of sound") +
                                     " could not be decoded"));
    judged.insert(judged.end(), noted.begin(), noted.end());
    for (const RunProblem &p : judged)
        av_log(nullptr, AV_LOG_WARNING, "Converted with problems: %s\n", p.text.c_str());
}

void account_settle(RunOutcome *outcome)
{
    if (!was_judged)
        return;
    outcome->problems = judged;
    outcome->partial = !judged.empty();
    outcome->expected_duration_us = judged_expected_us;
    outcome->converted_duration_us = judged_converted_us;
    if (!inputs.empty()) {
        outcome->source_size = inputs.front().size;
        outcome->bytes_reached = inputs.front().reached;
    }
    outcome->damaged_packets = damaged_packets;
    outcome->decode_errors = decode_errors;
    for (const RunProblem &p : judged)
        outcome->streams_left_out += p.kind == RunProblemKind::StreamLeftOut;
}

const char *run_problem_name(RunProblemKind kind)
{
    switch (kind) {
    case RunProblemKind::ShortOfDeclaredLength:
        return "short of its length";
    case RunProblemKind::ReadingStoppedEarly:
        return "reading stopped early";
    case RunProblemKind::DamagedPackets:
        return "damaged packets";
    case RunProblemKind::DecodeErrors:
        return "decode errors";
    case RunProblemKind::StreamLeftOut:
        return "stream left out";
    case RunProblemKind::TimelineGap:
        return "gap in the recording's time";
    case RunProblemKind::SegmentLeftOut:
        return "segment left out";
    }
    return "problem";
}

std::string av_error_words(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof(text));
    return text;
}

std::string media_clock_text(int64_t microseconds)
{
    const int64_t total = microseconds > 0 ? microseconds / 1000000 : 0;
    char text[32];
    if (total >= 3600)
        snprintf(text, sizeof(text), "%" PRId64 ":%02d:%02d", total / 3600, int(total / 60 % 60), int(total % 60));
    else
        snprintf(text, sizeof(text), "%d:%02d", int(total / 60), int(total % 60));
    return text;
}

RunProblem run_problem(RunProblemKind kind, int64_t a, int64_t b, const std::string &text, const std::string &detail)
{
    RunProblem p;
    p.kind = kind;
    p.a = a;
    p.b = b;
    p.detail = detail;
    p.text = text;
    return p;
}

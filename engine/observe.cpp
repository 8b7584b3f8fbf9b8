// The observed run: the caller's RunObserver while the run is in progress, the
// progress events it receives, and the record of why a run failed.
//
// A failure is recorded where it happens (input open, output open, encoder open,
// a write, an output without streams, no media at all) and the first one wins:
// what fails after it (a trailer after a write error, "no media" after an input
// that could not be read) is its consequence, not the reason. A failure noticed
// while the run is being stopped is a consequence of the stop.
#include "engine.h"
#include "observe.h"

#include <string>
#include <vector>

namespace {

const RunObserver *run_observer;
bool progress_refused; // on_progress returned false
std::vector<std::string> placed_outputs;

// The longest input from its "-ss" start on, -1 while none is known.
int64_t longest_input_us = -1;

struct FailureRecord {
    RunFailure failure = RunFailure::None;
    int error = 0;
    std::string text;
    bool after_stop = false;
} failure_record;

// What the first output will hold when the run completes, or -1 when unknown:
// the longest input, less the output's own "-ss", at most its "-t".
int64_t expected_duration(void)
{
    if (nb_output_files < 1)
        return -1;
    const OutFile *of = output_files[0];
    int64_t duration = longest_input_us;
    if (run_observer && run_observer->expected_duration_us >= 0)
        duration = run_observer->expected_duration_us;
    if (duration >= 0 && of->start_time > 0)
        duration = FFMAX(duration - of->start_time, int64_t(0));
    if (of->recording_time != NO_DURATION_LIMIT)
        duration = duration < 0 ? of->recording_time : FFMIN(duration, of->recording_time);
    return duration;
}

} // namespace

int64_t observe_expected_duration(void)
{
    return expected_duration();
}

void observe_begin(const RunObserver *observer)
{
    account_begin();
    run_observer = observer;
    progress_refused = false;
    placed_outputs.clear();
    longest_input_us = -1;
    failure_record = FailureRecord();
}

bool observer_wants_stop(void)
{
    if (progress_refused)
        return true;
    return run_observer && run_observer->should_stop && run_observer->should_stop();
}

bool observer_wants_progress(void)
{
    return run_observer && run_observer->on_progress;
}

bool observer_discards_stopped_output(void)
{
    return run_observer && run_observer->discard_when_stopped;
}

void observe_input(const AVFormatContext *ic, int64_t seek_start_us)
{
    if (ic->duration == AV_NOPTS_VALUE || ic->duration <= 0)
        return;
    longest_input_us = FFMAX(longest_input_us, FFMAX(ic->duration - seek_start_us, int64_t(0)));
}

void observe_progress(bool last, int64_t timer_start, int64_t now)
{
    if (!observer_wants_progress())
        return;
    RunProgress p = progress_snapshot(last, timer_start, now);
    p.duration_us = expected_duration();
    if (!run_observer->on_progress(p))
        progress_refused = true;
}

void record_run_failure(RunFailure failure, int error, const char *text)
{
    if (failure_record.failure != RunFailure::None)
        return;
    failure_record.failure = failure;
    failure_record.error = error;
    if (text) {
        failure_record.text = text;
    } else if (error) {
        char buf[AV_ERROR_MAX_STRING_SIZE * 2];
        av_strerror(error, buf, sizeof(buf));
        failure_record.text = buf;
    }
    failure_record.after_stop = engine_stop_cause() != StopCause::None;
}

bool observer_never_replaces(void)
{
    return run_observer && run_observer->never_replace;
}

bool observer_wants_recordings_only(void)
{
    return run_observer && run_observer->recordings_only;
}

bool observer_owns_input(const char *filename)
{
    return run_observer && !run_observer->own_segment_list.empty() && run_observer->own_segment_list == filename;
}

void observe_source_position(int64_t bytes)
{
    if (run_observer && run_observer->source_read_position)
        run_observer->source_read_position->store(bytes, std::memory_order_release);
}

void observe_output_placed(const char *path)
{
    placed_outputs.push_back(path);
}

RunFailure input_failure(int error)
{
    switch (error) {
    case AVERROR(ENOENT):
        return RunFailure::SourceMissing;
    case AVERROR(EISDIR):
        return RunFailure::SourceIsFolder;
    default:
        return RunFailure::SourceUnreadable;
    }
}

RunFailure output_failure(int error)
{
    switch (error) {
    case AVERROR(ENOENT):
    case AVERROR(ENOTDIR):
        return RunFailure::DestinationMissing;
    case AVERROR(EACCES):
    case AVERROR(EPERM):
    case AVERROR(EROFS):
        return RunFailure::DestinationNotWritable;
    case AVERROR(ENOSPC):
    case AVERROR(EDQUOT):
    case AVERROR(EFBIG):
        return RunFailure::DiskFull;
    case AVERROR(ENAMETOOLONG):
    case AVERROR(EINVAL):
    case AVERROR(EILSEQ):
        return RunFailure::OutputNameRefused;
    default:
        return RunFailure::Other;
    }
}

void settle_outcome(RunOutcome *outcome, int status, bool output_removed)
{
    // Only a cause noticed during the run counts: a stop asked for after the loop
    // ended changed nothing.
    const StopCause stop = engine_noted_stop();
    const FailureRecord &f = failure_record;
    *outcome = RunOutcome();
    outcome->status = status;
    outcome->output_removed = output_removed;
    if (status >= 0)
        outcome->outputs = placed_outputs;
    if (status < 0 && f.failure != RunFailure::None && !f.after_stop) {
        outcome->end = RunEnd::Failed;
    } else if (stop != StopCause::None) {
        outcome->end = RunEnd::Stopped;
        outcome->stop = stop;
        outcome->signal = stop == StopCause::Signal ? engine_stop_signal() : 0;
        return;
    } else if (status < 0) {
        outcome->end = RunEnd::Failed;
    } else {
        account_settle(outcome);
        return;
    }
    outcome->failure = f.failure == RunFailure::None ? RunFailure::Other : f.failure;
    outcome->error = f.error;
    outcome->error_text = f.text;
}

const char *run_failure_name(RunFailure failure)
{
    switch (failure) {
    case RunFailure::None:
        return "none";
    case RunFailure::SourceUnreadable:
        return "source unreadable";
    case RunFailure::SourceMissing:
        return "source missing";
    case RunFailure::SourceIsFolder:
        return "source is a folder";
    case RunFailure::SourceNoStream:
        return "source has no stream to convert";
    case RunFailure::DestinationMissing:
        return "destination folder missing";
    case RunFailure::DestinationNotWritable:
        return "destination not writable";
    case RunFailure::DiskFull:
        return "disk full";
    case RunFailure::OutputNameRefused:
        return "output name refused";
    case RunFailure::EncoderRefused:
        return "encoder refused the input";
    case RunFailure::Other:
        return "other";
    }
    return "other";
}

const char *run_failure_key(RunFailure failure)
{
    switch (failure) {
    case RunFailure::None:
        return "none";
    case RunFailure::SourceUnreadable:
        return "source_unreadable";
    case RunFailure::SourceMissing:
        return "source_missing";
    case RunFailure::SourceIsFolder:
        return "source_is_folder";
    case RunFailure::SourceNoStream:
        return "source_no_stream";
    case RunFailure::DestinationMissing:
        return "destination_missing";
    case RunFailure::DestinationNotWritable:
        return "destination_not_writable";
    case RunFailure::DiskFull:
        return "disk_full";
    case RunFailure::OutputNameRefused:
        return "output_name_refused";
    case RunFailure::EncoderRefused:
        return "encoder_refused";
    case RunFailure::Other:
        break;
    }
    return "other";
}

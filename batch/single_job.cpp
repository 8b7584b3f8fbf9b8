// One conversion in its own process, reporting to the batch command over a pipe.
#include "single_job.h"

#include "confine.h"
#include "conversion.h"
#include "ffmpeg_exec.h"
#include "job_protocol.h"
#include "join.h"
#include "queue_words.h"

#include <algorithm>
#include <functional>
#include <cerrno>
#include <csignal>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace {

volatile sig_atomic_t g_stop_signal = 0;

void note_stop_signal(int signal_number)
{
    g_stop_signal = signal_number;
}

// A stop signal that comes before the engine's own handlers are in place (or
// that the engine passes on after its run) is remembered here; should_stop()
// hands it to the run.
void catch_stop_signals()
{
    struct sigaction sa = {};
    sa.sa_handler = note_stop_signal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &sa, nullptr);
}

void write_all(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // the batch command is gone; the run goes on to its end
        done += static_cast<size_t>(n);
    }
}

// The window's sentence for the kind, then the engine's own words in brackets.
// "An unexpected error" says nothing a reader can use, so the words stand
// alone when there are some.
std::string failure_reason(const RunOutcome &outcome)
{
    std::string sentence = english_words(failure_words(outcome.failure));
    if (outcome.error_text.empty())
        return sentence;
    if (outcome.failure == RunFailure::Other || outcome.failure == RunFailure::None)
        return outcome.error_text;
    if (!sentence.empty() && sentence.back() == '.')
        sentence.pop_back();
    return sentence + " (" + outcome.error_text + ")";
}

std::string stop_reason(int signal_number)
{
    if (signal_number == SIGINT)
        return "stopped by an interrupt";
    if (signal_number)
        return "stopped by signal " + std::to_string(signal_number);
    return "stopped on request";
}

// The kernel refuses this process whatever a conversion must not touch (other
// folders, the network), whatever the recording asks the engine to open; the
// event pipe is open already. False when confinement failed for another reason
// than a kernel without it: the job must then not convert at all.
bool confine_job(const std::vector<std::string> &sources, const char *output, std::string *note)
{
    ConfineRules rules = conversion_confinement(sources.front(), output);
    // A join reads the folder of every segment.
    for (size_t i = 1; i < sources.size(); i++) {
        const ConfineRules more = conversion_confinement(sources[i], output);
        rules.read_trees.insert(rules.read_trees.end(), more.read_trees.begin(), more.read_trees.end());
    }
    ConfineApplied applied;
    if (plat_confine_thread(rules, &applied, note) < 0)
        return false;
    if (!applied.landlock_abi)
        av_log(nullptr, AV_LOG_INFO, "%s\n", note->c_str());
    return true;
}

} // namespace

std::string choices_argument(const ConversionChoices &choices)
{
    std::string text;
    if (choices.keep_video)
        text += "keep-video";
    if (choices.evidence)
        text += std::string(text.empty() ? "" : ",") + "evidence";
    if (choices.mark_source)
        text += std::string(text.empty() ? "" : ",") + "mark-source";
    if (choices.time_in_picture != ConversionChoices::TimeInPicture::Off)
        text += std::string(text.empty() ? "" : ",") +
                (choices.time_in_picture == ConversionChoices::TimeInPicture::Utc ? "time-utc" : "time-local");
    return text;
}

ConversionChoices choices_from_argument(const std::string &text)
{
    ConversionChoices choices;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string word = text.substr(start, comma - start);
        choices.keep_video |= word == "keep-video";
        choices.evidence |= word == "evidence";
        choices.mark_source |= word == "mark-source";
        if (word == "time-local")
            choices.time_in_picture = ConversionChoices::TimeInPicture::Local;
        if (word == "time-utc")
            choices.time_in_picture = ConversionChoices::TimeInPicture::Utc;
        start = comma + 1;
    }
    return choices;
}

namespace {

// One job's conversion: confined, observed, its events and end on `event_fd`.
// `run` converts with the observer it is given.
int run_job(int event_fd, const std::vector<std::string> &sources, const char *output,
            const ConversionChoices &choices,
            const std::function<void(const RunObserver &, ConversionResult *)> &run)
{
    catch_stop_signals();
    std::string confine_note;
    if (!confine_job(sources, output, &confine_note)) {
        JobEnd end;
        end.reason = confine_note;
        end.failure = run_failure_key(RunFailure::Other);
        write_all(event_fd, encode_end_line("failed", end));
        return 1;
    }
    int64_t reached_us = 0;
    RunObserver observer;
    observer.discard_when_stopped = true;
    // Another run may write into the same folder: its files are never replaced.
    observer.never_replace = true;
    observer.recordings_only = true;
    observer.should_stop = [] { return g_stop_signal != 0; };
    observer.on_progress = [&](const RunProgress &p) {
        reached_us = p.out_time_us;
        if (!p.last)
            write_all(event_fd, encode_progress_line(p.out_time_us, p.duration_us, p.speed));
        return g_stop_signal == 0;
    };

    ConversionResult result;
    run(observer, &result);
    const RunOutcome &outcome = result.outcome;

    const int stop_signal = outcome.signal ? outcome.signal : g_stop_signal;
    JobEnd end;
    end.out_time_us = reached_us;
    switch (outcome.end) {
    case RunEnd::Completed:
        end.output = outcome.outputs.empty() ? "" : outcome.outputs[0];
        end.expected_us = outcome.expected_duration_us;
        for (const RunProblem &p : outcome.problems)
            end.problems.push_back(english_words(problem_words(p)));
        // A recording without a picture has none to keep or convert.
        if (choices.keep_video && !result.plan.video_codec.empty()) {
            end.handling.picture = result.plan.video_kept ? "kept" : "converted";
            end.handling.picture_reason = result.plan.keep_refusal;
        }
        end.handling.evidence = result.evidence_path;
        end.handling.evidence_error = result.evidence_error;
        end.handling.deinterlaced = !result.plan.video_kept && result.plan.interlacing != Interlacing::Progressive;
        end.handling.time = result.plan.time_shown ? "shown" : "";
        end.handling.time_reason = result.plan.time_refusal;
        write_all(event_fd, encode_end_line("completed", end));
        return 0;
    case RunEnd::Stopped:
        end.reason = stop_reason(stop_signal);
        write_all(event_fd, encode_end_line("stopped", end));
        return stop_signal ? 128 + stop_signal : 1;
    case RunEnd::Failed:
        break;
    }
    end.reason = failure_reason(outcome);
    end.failure = run_failure_key(outcome.failure);
    write_all(event_fd, encode_end_line("failed", end));
    return 1;
}

} // namespace

int run_single_job(int event_fd, const char *source, const char *output, const ConversionChoices &choices)
{
    return run_job(event_fd, {source}, output, choices, [&](const RunObserver &observer, ConversionResult *result) {
        run_conversion(source, output, choices, observer, result);
    });
}

int run_join_job(int event_fd, const std::vector<std::string> &sources, const char *output,
                 const ConversionChoices &choices)
{
    return run_job(event_fd, sources, output, choices, [&](const RunObserver &observer, ConversionResult *result) {
        JoinPlan join;
        run_join(sources, output, choices, observer, result, &join);
    });
}

// The batch command's options and its man-page-style help.
#include "batch_options.h"

#include "batch_report.h"
#include "ffmpeg_exec.h"
#include "media_scan.h"
#include "platform.h"
#include "printable.h"

#include <CLI/CLI.hpp>

extern "C" {
#include <libavutil/avutil.h>
}

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <iostream>

namespace {

const char kName[] = "wardline-convert";

const char kHead[] = R"(NAME
    wardline-convert - convert many recordings to MP4 files that ordinary players open

SYNOPSIS
    wardline-convert [--output DIR [--keep-folders]] [--jobs N] [--report FILE]
                     [--dry-run] [--force] [--keep-video] [--evidence] [--join]
                     [--burn-time [utc|local]] FILE|FOLDER...
    wardline-convert --verify RECORD|FOLDER...

DESCRIPTION
    Converts every recording it is given, and every recording found in the folders
    it is given (sub-folders too, in sorted order), the way the Wardline Video
    Converter window does: H.264 video (baseline profile, level 3; raised for
    larger pictures up to level 5.1, beyond which pictures are scaled down) and
    the audio in an MP4 file. A folder contributes the files whose content opens as media with
    a video or audio stream, whatever their names; a file named on the command line
    is always tried. Every other file a folder search passes over is told: files
    named like recordings (".ts", ".mp4", ".dav", ...) and files that cannot be
    read are listed as skipped, with why; the rest are counted.

    A damaged recording that converts only in part (shorter than the length it
    declares, reading stopped early, damaged data, a stream left out, a jump in
    its time) is "partial": its file is written and plays, and its problems are
    named on its line and in the report.

    Each output is named after its source: "<name>_converted.mp4", or
    "<name>_converted_<n>.mp4" when that name is taken. Existing files are never
    replaced, and two conversions of one run never pick the same name. Each
    output names its source (file name, size and modification time) in its
    comment tag: a recording whose output from an earlier run is in its output
    folder is skipped as "already converted" (--force converts it again); a
    same-named file from elsewhere is not taken for it.

    With --keep-video, a recording whose picture is H.264 that ordinary players
    open (8-bit 4:2:0, progressive, level up to 5.1; constrained baseline, main
    or high profile) keeps its picture bit for bit, with its timing; its sound
    becomes AAC (AAC is copied). Any other picture is converted as usual, and
    the line and the report say why. With --evidence, each output gets
    "<output>.evidence.json" beside it: the source's and the output's paths,
    sizes and SHA-256, the program and library versions, the engine's words,
    start and end (UTC), the durations, how each stream was handled, the
    problems found, the recording's time and where it came from, host and user.
    --verify checks such records later.

    Every output keeps the recording's time as its creation time: the source's
    own creation time, or the wall-clock time a DAV recorder stamped on it.
    With --burn-time, every frame shows the date and time it was recorded (that
    time plus the frame's) in its lower left corner, in local time with its
    offset ("2024-03-15 09:00:03 +0100"), or in UTC with --burn-time utc; a
    recording whose start time is not known gets no time, and its line says why.
    An interlaced picture (marked so, or combed fields seen in its first
    seconds) is deinterlaced, one frame per frame; progressive ones are left as
    they are.

    With --join, the recordings of each folder given (sub-folders too) become one
    file, and so do the files named on the command line: in the order of their
    recording times when every one is known, else by name in natural order
    (cam01_2 before cam01_10); the order is printed and goes into the evidence
    record. Pictures are fitted to the first's size, keeping their shape.
    Between recordings whose times are known, a gap of up to 10 s is kept (the
    last picture held, silence); a longer one is closed and named as a problem.
    A recording that cannot be read is left out and named; the joined file is
    then partial. A joined file is named after its first recording:
    "<name>_converted_joined.mp4" ("<name>_converted_joined_<n>.mp4" when taken),
    and is always made anew. With --keep-video, recordings whose pictures can
    all be kept and are coded alike are joined with their pictures copied;
    otherwise the pictures are converted and the line says why.

    Conversions run in separate processes, up to --jobs at once. A failed
    conversion leaves no output and does not stop the others. On a terminal, one
    line per running conversion and an overall line with the time left are
    redrawn in place; otherwise one line is printed per finished file. Ctrl-C
    (SIGINT) or SIGTERM stops every conversion and removes their partial outputs;
    a second one kills them at once.

)";

const char kTail[] = R"(
EXIT STATUS
    0    every recording was converted whole (or, with --dry-run, every output
         name was found), and no file that looks like a recording was skipped
    1    at least one file failed or was converted only in part (partial: a
         damaged recording), a file that looks like a recording (or could not
         be read) was skipped, or no recording was found
    2    the command line cannot be used (the message says why)
    With --verify: 0 when every file of every record is intact, 1 when one is
    changed or missing, a record cannot be read, or no record was found.
    128+n    stopped by signal n (130 for Ctrl-C); the report lists what was done

EXAMPLES
    wardline-convert export/
        Converts every recording under export/, writing each output beside its
        source.

    wardline-convert --output /srv/converted --jobs 2 --report report.json cam01.ts cam02.ts
        Two conversions at once into /srv/converted, with a JSON report of
        {source, output, status, reason, kind, duration, expected_duration,
        problems, seconds} per file: status is converted, partial, failed,
        stopped, not started or skipped.

    wardline-convert --keep-video --evidence --output /srv/case42 export/
        Keeps the pictures that play everywhere, with an evidence record beside
        each output; later, wardline-convert --verify /srv/case42 checks them.

    wardline-convert --dry-run --output out/ export/
        Lists the output each recording would get, and writes nothing.
)";

// CLI11's option list, framed by the sections of a manual page.
class ManPageFormatter : public CLI::Formatter {
public:
    std::string make_help(const CLI::App *app, std::string, CLI::AppFormatMode) const override
    {
        std::string text = kHead;
        text += "OPTIONS\n";
        text += make_positionals(app);
        text += make_groups(app, CLI::AppFormatMode::Normal);
        text += kTail;
        return text;
    }
};

// The report is written only at the end, by renaming a finished file over its
// name: a name that can never take it (a folder, a device such as /dev/null, a
// folder that is missing or closed to us) must be refused at the start, not
// after hours of converting. Nothing is created here, and an existing report
// stays as it is until the run ends.
std::string report_path_problem(const std::string &path)
{
    if (!path.empty() && path.back() == '/')
        return path + " names a folder, not a file";
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return path + " is a folder";
        if (!S_ISREG(st.st_mode))
            return path + " is not a regular file";
    }
    const std::string::size_type slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        return "cannot write a report into the folder " + folder + ": " + strerror(errno);
    // The report is written under a temporary name first: that name must fit
    // too, and be free (a link there would be written through).
    const std::string temp = report_temporary_path(path);
    const std::string temp_name = slash == std::string::npos ? temp : temp.substr(slash + 1);
    if (temp_name.size() > NAME_MAX || temp.size() >= PATH_MAX)
        return path + ": the name is too long to write the report under " + temp_name;
    if (lstat(temp.c_str(), &st) == 0)
        return temp + " exists already (left by another run?); remove it or choose another report name";
    return "";
}

// A named pipe or a device would be drained by the planning probe (or waited on
// for ever without a writer): only folders and regular files are recordings.
const CLI::Validator kFileOrFolder(
    [](std::string &path) -> std::string {
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return "";
        const std::string problem = recording_path_problem(path);
        if (problem.empty())
            return "";
        return path + " " + problem + (problem.compare(0, 3, "is ") ? "" : ", not a recording file");
    },
    "", "recording or folder");

const CLI::Validator kOutputFolderUsable([](std::string &path) { return output_folder_problem(path); }, "",
                                         "output folder");

const CLI::Validator kReportPathUsable([](std::string &path) { return report_path_problem(path); }, "",
                                       "report path");

// Before the range check, which would call any word "not in range".
const CLI::Validator kWholeNumber(
    [](std::string &text) -> std::string {
        int value = 0;
        if (CLI::detail::lexical_cast(text, value))
            return "";
        double number = 0;
        if (CLI::detail::lexical_cast(text, number))
            return text + " is not a whole number";
        return text + " is not a number";
    },
    "", "whole number");

// CLI11 adds a validator's description to the option's type name; the option's
// own text says it better here.
CLI::Validator quiet(const CLI::Validator &validator)
{
    return CLI::Validator(validator).description("");
}

// --burn-time takes a zone only when one follows ("--burn-time utc cam.ts");
// followed by anything else it stands alone for local time, so that
// "--burn-time cam.ts" never takes the recording for a zone.
std::vector<char *> with_burn_time_zone(int argc, char **argv)
{
    static char local[] = "--burn-time=local";
    std::vector<char *> words(argv, argv + argc);
    for (size_t i = 1; i < words.size(); i++) {
        if (strcmp(words[i], "--") == 0)
            break;
        const bool zone_follows =
            i + 1 < words.size() && (strcmp(words[i + 1], "utc") == 0 || strcmp(words[i + 1], "local") == 0);
        if (strcmp(words[i], "--burn-time") == 0 && !zone_follows)
            words[i] = local;
    }
    return words;
}

int positive_count(int value)
{
    return value > 0 ? value : 1;
}

} // namespace

std::string output_folder_problem(const std::string &path)
{
    if (access(path.c_str(), W_OK | X_OK) != 0)
        return "cannot write into the folder " + path + ": " + strerror(errno);
    return "";
}

int usable_cores()
{
    cpu_set_t set;
    int cores = 0;
    if (sched_getaffinity(0, sizeof(set), &set) == 0)
        cores = CPU_COUNT(&set);
    if (cores <= 0)
        cores = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
    return positive_count(cores);
}

int job_count_for(int cores, int64_t available_bytes)
{
    const int by_cores = positive_count(cores / 2);
    if (available_bytes < 0)
        return by_cores;
    const int64_t by_memory = available_bytes / CONVERSION_MEMORY_BUDGET;
    return positive_count(int(std::min<int64_t>(by_cores, by_memory)));
}

int default_job_count()
{
    return job_count_for(usable_cores(), plat_available_memory_bytes());
}

int parse_batch_options(int argc, char **argv, BatchOptions *options)
{
    CLI::App app{"", kName};
    app.formatter(std::make_shared<ManPageFormatter>());
    app.get_formatter()->column_width(26);
    app.option_defaults()->always_capture_default(false);
    options->jobs = default_job_count();

    app.set_version_flag("-V,--version", std::string(kName) + " " + WVC_VERSION + " (media libraries " +
                                             av_version_info() + ")");
    app.add_option("inputs", options->inputs, "Recordings, and folders to search for recordings")
        ->type_name("FILE|FOLDER")
        ->check(kFileOrFolder);
    app.add_option("-o,--output", options->output_dir,
                   "Folder for every output (it must exist); default: beside each source")
        ->type_name("DIR")
        ->check(quiet(CLI::ExistingDirectory))
        ->check(kOutputFolderUsable);
    app.add_option("-j,--jobs", options->jobs,
                   "Conversions at once (1 to 64), each in its own process; default: one per two cores, "
                   "at most one per " + std::to_string(CONVERSION_MEMORY_BUDGET >> 30) +
                       " GiB of available memory, at least one (" +
                       std::to_string(options->jobs) + " here)")
        ->type_name("N")
        ->check(kWholeNumber)
        ->check(quiet(CLI::Range(1, 64)));
    app.add_option("-r,--report", options->report_path,
                   "Write a JSON array of {source, output, status, reason, kind, duration, "
                   "expected_duration, problems, seconds} to FILE")
        ->type_name("FILE")
        ->check(kReportPathUsable);
    CLI::Option *dry = app.add_flag("-n,--dry-run", options->dry_run,
                                    "List each source and the output it would get; write nothing");
    CLI::Option *keep = app.add_flag("--keep-video", options->keep_video,
                                     "Copy the picture unchanged when it is H.264 that ordinary players open "
                                     "(8-bit 4:2:0, progressive, level up to 5.1); sound becomes AAC");
    CLI::Option *evidence = app.add_flag("--evidence", options->evidence,
                                         "Write <output>.evidence.json beside each output: both files' SHA-256, "
                                         "what was done, when and by whom");
    CLI::Option *force = app.add_flag("-f,--force", options->force,
                                      "Convert again a recording whose output from an earlier run is in its "
                                      "output folder (by default it is skipped)");
    CLI::Option *keep_folders = app.add_flag("--keep-folders", options->keep_folders,
                                             "Under --output, mirror the folders the recordings were found in "
                                             "(export/nvr1/cam01.avi -> DIR/export/nvr1/cam01_converted.mp4)");
    CLI::Option *join = app.add_flag(
        "--join", options->join,
        "Join the recordings of each folder given, and the files named together, into one file each: in the "
        "order of their recording times (else by name, cam01_2 before cam01_10), pictures fitted to the first's "
        "size, gaps up to 10 s kept (picture held, silence), longer ones closed; named after the first: "
        "<name>_converted_joined.mp4");
    CLI::Option *burn_time =
        app.add_option("--burn-time", options->burn_time,
                       "Draw the date and time each frame was recorded into the picture, in local time with "
                       "its offset (--burn-time=utc: in UTC); only for recordings whose start time is known")
            ->expected(0, 1)
            ->type_name("[=utc]")
            ->check(quiet(CLI::IsMember({"local", "utc"})));
    app.add_flag("--verify", options->verify,
                 "Check evidence records (files, or folders searched for *.evidence.json) against the files "
                 "they name: intact, changed or missing; convert nothing")
        ->excludes(dry)
        ->excludes(keep)
        ->excludes(evidence)
        ->excludes(force)
        ->excludes(keep_folders)
        ->excludes(burn_time)
        ->excludes(join)
        ->excludes("--output")
        ->excludes("--report")
        ->excludes("--jobs");

    try {
        std::vector<char *> words = with_burn_time_zone(argc, argv);
        app.parse(int(words.size()), words.data());
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        return usage_error(e.what());
    }
    if (options->inputs.empty())
        return usage_error("no recording or folder given");
    if (options->keep_folders && options->output_dir.empty())
        return usage_error("--keep-folders needs --output (without it every output goes beside its source)");
    return -1;
}

int usage_error(const std::string &message)
{
    std::cerr << kName << ": " << printable_text(message) << "\n"
              << "Try '" << kName << " --help' for more information.\n";
    return BATCH_EXIT_USAGE;
}

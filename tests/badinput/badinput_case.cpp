// The bad-input suite's harness: running one case in a watched child and holding
// it to the suite's invariants, and the inputs most cases are made from.
#include "badinput_case.h"

#include "ffmpeg_exec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace fixtures;
namespace fs = std::filesystem;

namespace badinput {

std::vector<std::string> converter_args(const Case &c)
{
    // The program name is added by the child runner; the case's input options go
    // before "-i", its other options right before the output name.
    std::vector<std::string> args = converter_arguments(c.input, c.output);
    args.erase(args.begin());
    if (c.input_is_url)
        args[1] = c.input;
    args.insert(args.begin(), c.input_options.begin(), c.input_options.end());
    args.insert(args.end() - 1, c.extra.begin(), c.extra.end());
    return args;
}

std::string in_dir(const Case &c, const std::string &path)
{
    return path.empty() || path[0] == '/' || c.limits.cwd.empty() ? path : c.limits.cwd + "/" + path;
}

// Content hash of a file, the listing of a directory, or what stat says.
std::string fingerprint(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return "missing";
    std::string print = std::to_string(st.st_mode) + ":" + std::to_string(st.st_size);
    if (S_ISDIR(st.st_mode)) {
        for (const auto &e : fs::directory_iterator(path))
            print += "|" + e.path().filename().string();
    } else if (S_ISREG(st.st_mode) && access(path.c_str(), R_OK) == 0) {
        const std::vector<uint8_t> bytes = read_file(path);
        print += ":" + hash_text(std::string(bytes.begin(), bytes.end()));
    }
    return print;
}

std::string scratch(const std::string &name)
{
    const fs::path dir = fs::path(WVC_SCRATCH_ROOT) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

// Partial outputs (hidden, ending in ".part") in `folder`.
std::vector<std::string> partial_files(const std::string &folder)
{
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (name[0] == '.' && name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0)
            found.push_back(name);
    }
    return found;
}

std::string folder_of(const std::string &path)
{
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

bool sanitizer_spoke(const std::string &err)
{
    return err.find("Sanitizer") != std::string::npos || err.find("runtime error:") != std::string::npos;
}

namespace {

// What a row asks of a conversion that succeeded beyond the invariants.
void check_converted_as_promised(const Row &row, const ChildRun &run, const OutputFacts &facts,
                                 const std::string &context)
{
    if (row.warning) {
        EXPECT_NE(run.err.find(row.warning), std::string::npos) << "no \"" << row.warning << "\" in\n" << context;
    }
    if (row.video != Video::Any) {
        EXPECT_EQ(facts.has_video, row.video == Video::Present) << context;
    }
    if (row.width) {
        EXPECT_EQ(facts.width, row.width);
        EXPECT_EQ(facts.height, row.height);
    }
}

long peak_bound_mib(const Row &row)
{
#if defined(__SANITIZE_ADDRESS__)
    return std::max(2 * row.max_peak_mib, kMaxPeakMiB); // the sanitizer doubles what is allocated
#else
    return std::max(row.max_peak_mib, kMaxPeakMiB);
#endif
}

} // namespace

// Runs one case and holds it to the invariants; returns the output's facts when
// the conversion succeeded (empty problem), for further checks.
OutputFacts run_case(const Row &row, const Case &c)
{
    const std::string input = in_dir(c, c.input), output = in_dir(c, c.output);
    const std::string before = fingerprint(input);
    const ChildRun run = run_guarded(converter_args(c), c.limits);
    const std::string context = run.describe() + "\n" + run.err.substr(run.err.size() > 6000 ? run.err.size() - 6000 : 0);

    OutputFacts facts;
    facts.problem = "not converted";
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.crashed()) << context;
    EXPECT_FALSE(run.timed_out) << context;
    EXPECT_FALSE(sanitizer_spoke(run.err)) << context;
    EXPECT_LE(run.peak_rss_kb / 1024, peak_bound_mib(row)) << context;
    EXPECT_EQ(fingerprint(input), before) << "the input changed";
    EXPECT_EQ(partial_files(folder_of(output)), std::vector<std::string>()) << "a partial output was left";
    if (run.exit_code == 1) {
        EXPECT_NE(row.expect, Expect::Converts) << context;
        if (row.message) {
            EXPECT_NE(run.err.find(row.message), std::string::npos) << "no \"" << row.message << "\" in\n" << context;
        }
        std::error_code ec;
        EXPECT_FALSE(fs::exists(fs::symlink_status(output, ec))) << "a failed run left " << output;
    } else if (run.exit_code == 0) {
        EXPECT_NE(row.expect, Expect::Fails) << context;
        facts = check_converted(output);
        EXPECT_EQ(facts.problem, "") << output << "\n" << context;
        if (row.max_seconds > 0) {
            EXPECT_LE(facts.seconds, row.max_seconds) << context;
        }
        EXPECT_GE(facts.seconds, row.min_seconds) << context;
        check_converted_as_promised(row, run, facts, context);
    } else {
        ADD_FAILURE() << "neither success nor failure: " << context;
    }
    return facts;
}

std::string row_name(const ::testing::TestParamInfo<Row> &info)
{
    return info.param.name;
}

void PrintTo(const Row &row, std::ostream *os)
{
    *os << row.name;
}

// ---- making inputs ---------------------------------------------------------------

Case convert_into(const std::string &dir, const std::string &input)
{
    Case c;
    c.input = input;
    c.output = dir + "/converted.mp4";
    return c;
}

Case copied(const std::string &dir, const std::string &source, const std::string &name)
{
    fs::copy_file(source, dir + "/" + name, fs::copy_options::overwrite_existing);
    return convert_into(dir, dir + "/" + name);
}

Case written(const std::string &dir, const std::string &name, const Bytes &bytes)
{
    write_file(dir + "/" + name, bytes);
    return convert_into(dir, dir + "/" + name);
}

std::function<Case(const std::string &)> through_pipe(std::function<Case(const std::string &)> make)
{
    return [=](const std::string &dir) {
        Case c = make(dir);
        const fs::path source = c.input;
        const std::string pipe = (source.parent_path() / ("pipe" + source.extension().string())).string();
        if (mkfifo(pipe.c_str(), 0600) != 0)
            throw std::runtime_error("no named pipe");
        signal(SIGPIPE, SIG_IGN); // a reader that stops early fails the write instead
        std::thread([source = source.string(), pipe] {
            const Bytes bytes = read_file(source);
            int fd = -1;
            for (int i = 0; i < 600 && fd < 0; i++) // waits up to 60 s for the reader
                if ((fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK)) < 0)
                    usleep(100000);
            if (fd < 0)
                return;
            fcntl(fd, F_SETFL, 0);
            for (size_t n = 0; n < bytes.size();) {
                const ssize_t w = write(fd, bytes.data() + n, bytes.size() - n);
                n = w > 0 ? n + size_t(w) : bytes.size();
            }
            close(fd);
        }).detach();
        c.input = pipe;
        return c;
    };
}

ClipRecipe ts_clip(const std::string &name, double seconds)
{
    ClipRecipe r = fixture_recipe(FixtureKind::H264AacTs);
    r.name = "badinput_" + name;
    r.duration = seconds;
    return r;
}

ClipRecipe mp4_clip(bool with_audio)
{
    ClipRecipe r = ts_clip(with_audio ? "mp4" : "mp4_video_only");
    r.format = "mp4";
    r.extension = "mp4";
    if (!with_audio)
        r.audio.clear();
    return r;
}

ClipRecipe sized(int width, int height)
{
    ClipRecipe r = fixture_recipe(FixtureKind::MjpegMulawAvi);
    r.name = "badinput_size";
    r.duration = 1;
    r.audio.clear();
    r.video[0].width = width;
    r.video[0].height = height;
    return r;
}

std::vector<std::string> jpeg_pictures(int width, int height)
{
    // Without sound the file holds nothing else that could look like a JPEG
    // marker; inside a picture 0xFF 0xD9 is its end alone.
    const Bytes avi = read_file(clip_path(sized(width, height)));
    const std::string bytes(avi.begin(), avi.end());
    std::vector<std::string> pictures;
    for (size_t start = bytes.find("\xff\xd8\xff"); start != std::string::npos;
         start = bytes.find("\xff\xd8\xff", start)) {
        const size_t end = bytes.find("\xff\xd9", start);
        if (end == std::string::npos)
            break;
        pictures.push_back(bytes.substr(start, end + 2 - start));
        start = end + 2;
    }
    if (pictures.empty())
        throw FixtureError("no JPEG picture in the MJPEG recording");
    return pictures;
}

std::function<Case(const std::string &)> clip(const ClipRecipe &recipe)
{
    return [=](const std::string &dir) {
        return copied(dir, clip_path(recipe), "recording." + recipe.extension);
    };
}

std::function<Case(const std::string &)> fixture(FixtureKind kind)
{
    return [=](const std::string &dir) {
        const std::string path = fixture_path(kind);
        return copied(dir, path, "recording" + fs::path(path).extension().string());
    };
}

void write_text(const std::string &path, const std::string &text)
{
    write_file(path, Bytes(text.begin(), text.end()));
}

} // namespace badinput

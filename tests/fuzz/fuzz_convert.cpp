// Fuzz target for the whole conversion: the fuzzer's bytes are written to a file
// that the engine converts with the converter window's argument vector, as a
// recording of unknown origin would be.
//
// Small caps keep one run short: one decoder and encoder thread, pictures of at
// most 4 megapixels, at most 2 seconds and 20 video frames of output, inputs of at
// most 512 KiB. Standard input is not read. Input and output live in a private
// folder that is emptied after every run, so nothing the input refers to can be
// found next to it but the input itself. Built with libFuzzer (fuzz_convert) and
// as a plain replay program.
#include "ffmpeg_exec.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr size_t kMaxInput = 512 * 1024;

std::string work_dir;

void format_and_discard(void *, int, const char *fmt, va_list vl)
{
    char line[2048];
    vsnprintf(line, sizeof(line), fmt, vl);
}

bool write_input(const std::string &path, const uint8_t *data, size_t size)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/wvc-fuzz-convert-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        perror("mkdtemp");
        abort();
    }
    work_dir = pattern;
    atexit([] { rmdir(work_dir.c_str()); });
    av_log_set_callback(format_and_discard);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput)
        return 0;
    const std::string in = work_dir + "/input", out = work_dir + "/output.mp4";
    if (!write_input(in, data, size))
        abort(); // the harness itself failed: say so loudly
    // The converter's words, with limits that keep one input quick: global and
    // input options after the program name, output options before the output name.
    std::vector<std::string> words = converter_arguments(in, out);
    const std::vector<std::string> before_input = {"-nostdin", "-threads", "1", "-max_pixels", "4194304"};
    const std::vector<std::string> before_output = {"-threads", "1", "-t", "2", "-frames:v", "20"};
    words.insert(words.begin() + 1, before_input.begin(), before_input.end());
    words.insert(words.end() - 1, before_output.begin(), before_output.end());
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    ffmpeg_exec(int(words.size()), argv.data());
    unlink(out.c_str());
    unlink(in.c_str());
    av_log_set_callback(format_and_discard);
    return 0;
}

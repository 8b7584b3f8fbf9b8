// Replays fuzzer inputs without libFuzzer: every file named on the command line,
// and every file in every directory named there, goes once through the fuzz
// target's entry point. Used by ctest for the kept regression inputs, so a fixed
// crash stays fixed in the normal (and the sanitizer) build.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

std::vector<std::string> input_files(int argc, char **argv)
{
    std::vector<std::string> files;
    for (int i = 1; i < argc; i++) {
        std::error_code ec;
        if (std::filesystem::is_directory(argv[i], ec)) {
            std::vector<std::string> inside;
            for (const auto &entry : std::filesystem::directory_iterator(argv[i]))
                if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
                    inside.push_back(entry.path().string());
            std::sort(inside.begin(), inside.end());
            files.insert(files.end(), inside.begin(), inside.end());
        } else {
            files.push_back(argv[i]);
        }
    }
    return files;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> files = input_files(argc, argv);
    if (files.empty()) {
        fprintf(stderr, "no inputs to replay\n");
        return 2;
    }
    LLVMFuzzerInitialize(&argc, &argv);
    for (const std::string &file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            fprintf(stderr, "cannot read %s\n", file.c_str());
            return 2;
        }
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fprintf(stderr, "replaying %s (%zu bytes)\n", file.c_str(), bytes.size());
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    fprintf(stderr, "replayed %zu inputs\n", files.size());
    return 0;
}

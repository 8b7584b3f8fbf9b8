// The evidence record beside a converted file, the hashes it holds, and checking
// it again. See evidence.h.
#include "evidence.h"

#include "recording_time.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/base64.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
#include <libavutil/sha.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

using json = nlohmann::ordered_json;

namespace {

constexpr size_t kChunkBytes = 1 << 20;
constexpr int kFollowPollMilliseconds = 20;
constexpr const char kRecordKind[] = "wardline evidence record";
constexpr int kRecordVersion = 1;

struct ShaFree {
    void operator()(AVSHA *sha) const { av_free(sha); }
};

// SHA-256 over bytes fed in order.
class Sha256 {
public:
    Sha256() : sha_(av_sha_alloc())
    {
        if (sha_)
            av_sha_init(sha_.get(), 256);
    }
    bool ok() const { return sha_ != nullptr; }
    void add(const unsigned char *data, size_t size) { av_sha_update(sha_.get(), data, size); }
    std::string hex()
    {
        unsigned char digest[32];
        av_sha_final(sha_.get(), digest);
        static const char digits[] = "0123456789abcdef";
        std::string text;
        for (unsigned char b : digest) {
            text += digits[b >> 4];
            text += digits[b & 15];
        }
        return text;
    }

private:
    std::unique_ptr<AVSHA, ShaFree> sha_;
};

int64_t modified_us(const struct stat &st)
{
    return int64_t(st.st_mtim.tv_sec) * 1000000 + st.st_mtim.tv_nsec / 1000;
}

// Reads `fd` from where it is up to `limit` bytes (or its end, limit < 0) into
// `sha`; returns the bytes read or a negative AVERROR.
int64_t hash_from_fd(int fd, Sha256 *sha, std::vector<unsigned char> *buffer, int64_t limit)
{
    int64_t total = 0;
    while (limit < 0 || total < limit) {
        const size_t want = limit < 0 ? buffer->size() : size_t(std::min<int64_t>(limit - total, buffer->size()));
        const ssize_t n = read(fd, buffer->data(), want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return AVERROR(errno);
        if (n == 0)
            break;
        sha->add(buffer->data(), size_t(n));
        total += n;
    }
    return total;
}

} // namespace

std::string evidence_record_path(const std::string &output)
{
    return output + ".evidence.json";
}

int sha256_of_file(const std::string &path, FileDigest *digest)
{
    *digest = FileDigest();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return AVERROR(errno);
    struct stat st;
    Sha256 sha;
    std::vector<unsigned char> buffer(kChunkBytes);
    int64_t n = fstat(fd, &st) != 0 ? AVERROR(errno) : !sha.ok() ? AVERROR(ENOMEM) : 0;
    if (n >= 0 && !S_ISREG(st.st_mode))
        n = AVERROR(EINVAL);
    if (n >= 0)
        n = hash_from_fd(fd, &sha, &buffer, -1);
    close(fd);
    if (n < 0)
        return int(n);
    digest->size = n;
    digest->modified_us = modified_us(st);
    digest->sha256 = sha.hex();
    return 0;
}

// ---- hashing behind the engine ----------------------------------------------------------

struct FollowingHasher::State {
    int fd = -1;
    struct stat st = {};
    const std::atomic<int64_t> *reader = nullptr;
    Sha256 sha;
    std::vector<unsigned char> buffer = std::vector<unsigned char>(kChunkBytes);
    int64_t hashed = 0;
    int error = 0;
    std::mutex lock;
    std::condition_variable wake;
    bool stop = false;
    std::thread thread;

    // Follows the reader until told to stop.
    void follow()
    {
        std::unique_lock<std::mutex> hold(lock);
        while (!stop && !error) {
            const int64_t ahead = reader->load(std::memory_order_acquire) - hashed;
            if (ahead <= 0) {
                wake.wait_for(hold, std::chrono::milliseconds(kFollowPollMilliseconds));
                continue;
            }
            hold.unlock();
            const int64_t n = hash_from_fd(fd, &sha, &buffer, std::min<int64_t>(ahead, kChunkBytes));
            hold.lock();
            if (n < 0)
                error = int(n);
            else if (n == 0)
                break; // the file ends here (it shrank?): finish() says what is left
            else
                hashed += n;
        }
    }
};

FollowingHasher::FollowingHasher(const std::string &path, const std::atomic<int64_t> *reader_position)
    : state_(new State)
{
    State &s = *state_;
    s.reader = reader_position;
    s.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (s.fd < 0 || fstat(s.fd, &s.st) != 0) {
        s.error = AVERROR(errno);
        return;
    }
    if (!s.sha.ok()) {
        s.error = AVERROR(ENOMEM);
        return;
    }
    try {
        s.thread = std::thread([&s] { s.follow(); });
    } catch (const std::system_error &) {
        // Without a thread of its own it hashes everything at the end.
    }
}

FollowingHasher::~FollowingHasher()
{
    State &s = *state_;
    {
        std::lock_guard<std::mutex> hold(s.lock);
        s.stop = true;
    }
    s.wake.notify_all();
    if (s.thread.joinable())
        s.thread.join();
    if (s.fd >= 0)
        close(s.fd);
}

int FollowingHasher::finish(FileDigest *digest)
{
    State &s = *state_;
    {
        std::lock_guard<std::mutex> hold(s.lock);
        s.stop = true;
    }
    s.wake.notify_all();
    if (s.thread.joinable())
        s.thread.join();
    *digest = FileDigest();
    if (s.error)
        return s.error;
    const int64_t rest = hash_from_fd(s.fd, &s.sha, &s.buffer, -1);
    if (rest < 0)
        return int(rest);
    digest->size = s.hashed + rest;
    digest->modified_us = modified_us(s.st);
    digest->sha256 = s.sha.hex();
    return 0;
}

// ---- the record ---------------------------------------------------------------------------

namespace {

std::string version_text(unsigned version)
{
    return std::to_string(AV_VERSION_MAJOR(version)) + "." + std::to_string(AV_VERSION_MINOR(version)) + "." +
           std::to_string(AV_VERSION_MICRO(version));
}

json library_versions()
{
    return json{{"libavformat", version_text(avformat_version())},
                {"libavcodec", version_text(avcodec_version())},
                {"libavfilter", version_text(avfilter_version())},
                {"libavutil", version_text(avutil_version())},
                {"libswscale", version_text(swscale_version())},
                {"libswresample", version_text(swresample_version())},
                {"build", av_version_info()}};
}

std::string host_name()
{
    char name[256] = {};
    return gethostname(name, sizeof(name) - 1) == 0 ? name : "";
}

std::string user_name()
{
    struct passwd entry, *found = nullptr;
    char buffer[4096];
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found)
        return found->pw_name;
    const char *env = getenv("USER");
    return env ? env : std::to_string(geteuid());
}

bool is_utf8(const std::string &bytes)
{
    try {
        (void)json(bytes).dump();
        return true;
    } catch (const json::type_error &) {
        return false;
    }
}

std::string base64_of(const std::string &bytes)
{
    std::string text(AV_BASE64_SIZE(bytes.size()), '\0');
    if (!av_base64_encode(&text[0], int(text.size()), (const uint8_t *)bytes.data(), int(bytes.size())))
        return "";
    text.resize(strlen(text.c_str()));
    return text;
}

std::string from_base64(const std::string &text)
{
    std::string bytes(text.size(), '\0');
    const int n = av_base64_decode((uint8_t *)&bytes[0], text.c_str(), int(bytes.size()));
    bytes.resize(n > 0 ? size_t(n) : 0);
    return bytes;
}

json seconds_or_null(int64_t us)
{
    return us < 0 ? json(nullptr) : json(double(us) / 1e6);
}

const char *time_source_key(RecordingTimeSource source)
{
    switch (source) {
    case RecordingTimeSource::Container:
        return "container";
    case RecordingTimeSource::RecorderClock:
        return "recorder clock";
    case RecordingTimeSource::None:
        break;
    }
    return "unknown";
}

json stream_list(const ConversionPlan &plan)
{
    json streams = json::array();
    if (!plan.video_codec.empty())
        streams.push_back({{"type", "video"},
                           {"source_codec", plan.video_codec},
                           {"handling", plan.video_kept ? "kept" : "converted"},
                           {"output_codec", "h264"}});
    if (!plan.audio_codec.empty())
        streams.push_back({{"type", "audio"},
                           {"source_codec", plan.audio_codec},
                           {"handling", plan.audio_kept ? "kept" : "converted"},
                           {"output_codec", "aac"}});
    return streams;
}

json file_entry(const std::string &path, const FileDigest &d, bool with_time)
{
    json entry{{"path", path}};
    // A file name need not be UTF-8: its exact bytes go beside the readable form.
    if (!is_utf8(path))
        entry["path_base64"] = base64_of(path);
    entry["size"] = d.size;
    if (with_time)
        entry["modified"] = iso_utc_text(d.modified_us);
    entry["sha256"] = d.sha256;
    return entry;
}

json record_of(const ConversionResult &result, const EvidenceFacts &facts)
{
    const RunOutcome &o = result.outcome;
    const ConversionPlan &plan = result.plan;
    json words = json::array();
    for (const std::string &w : plan.words)
        words.push_back(w);
    json problems = json::array();
    for (const RunProblem &p : o.problems)
        problems.push_back(p.text);
    json record{{"record", kRecordKind}, {"record_version", kRecordVersion}};
    record["program"] = {{"name", program_invocation_short_name}, {"version", WVC_VERSION}};
    record["libraries"] = library_versions();
    record["source"] = file_entry(facts.source_path, facts.source, true);
    record["output"] = file_entry(facts.output_path, facts.output, false);
    if (!facts.segments.empty()) {
        json segments = json::array();
        for (const auto &[path, digest] : facts.segments)
            segments.push_back(file_entry(path, digest, true));
        record["segments"] = segments;
    }
    record["engine_words"] = words;
    if (!plan.joined.empty()) {
        record["joined"] = plan.joined;
        record["joined_in_order_of"] = plan.joined_by_time ? "recording time" : "name";
    }
    record["started"] = iso_utc_text(facts.started_us);
    record["ended"] = iso_utc_text(facts.ended_us);
    record["declared_duration"] = seconds_or_null(o.expected_duration_us);
    record["converted_duration"] = seconds_or_null(o.converted_duration_us);
    record["streams"] = stream_list(plan);
    if (!plan.keep_refusal.empty())
        record["picture_not_kept_because"] = plan.keep_refusal;
    record["recording_time"] = plan.recording_time.empty() ? json(nullptr) : json(plan.recording_time);
    record["recording_time_from"] = time_source_key(plan.time_source);
    record["status"] = o.partial ? "partial" : "converted";
    record["problems"] = problems;
    record["host"] = host_name();
    record["user"] = user_name();
    return record;
}

int write_all(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return AVERROR(errno);
        done += size_t(n);
    }
    return 0;
}

} // namespace

int write_evidence_record(const std::string &record_path, const ConversionResult &result,
                          const EvidenceFacts &facts, std::string *error)
{
    // Bytes that are not UTF-8 read as U+FFFD; paths keep theirs in base64.
    const std::string text = record_of(result, facts).dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    // Never over another file, nor through a link planted under its name.
    const int fd = open(record_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int ret = AVERROR(errno);
        *error = errno == EEXIST ? "a file already has the record's name" : av_error_words(ret);
        return ret;
    }
    int ret = write_all(fd, text);
    if (ret >= 0 && fsync(fd) != 0)
        ret = AVERROR(errno);
    if (close(fd) != 0 && ret >= 0)
        ret = AVERROR(errno);
    if (ret < 0) {
        *error = av_error_words(ret);
        unlink(record_path.c_str());
    }
    return ret;
}

// ---- checking a record again ---------------------------------------------------------------

namespace {

std::string folder_of(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

CheckedFile check_file(const std::string &role, const std::string &path, const std::string &sha256)
{
    CheckedFile file{role, path, FileState::Missing};
    FileDigest digest;
    const int ret = sha256_of_file(path, &digest);
    if (ret == AVERROR(ENOENT))
        return file;
    file.state = ret >= 0 && digest.sha256 == sha256 ? FileState::Intact : FileState::Changed;
    return file;
}

} // namespace

int verify_evidence_record(const std::string &record_path, std::vector<CheckedFile> *files, std::string *error)
{
    files->clear();
    json record;
    try {
        std::ifstream in(record_path, std::ios::binary);
        if (!in) {
            *error = "cannot be read";
            return AVERROR(errno ? errno : EIO);
        }
        record = json::parse(in);
        if (record.value("record", "") != kRecordKind)
            throw std::runtime_error("not a record");
        for (const char *role : {"source", "output"}) {
            const json &entry = record.at(role);
            std::string path = entry.contains("path_base64") ? from_base64(entry.at("path_base64").get<std::string>())
                                                             : entry.at("path").get<std::string>();
            if (!strcmp(role, "output") && !exists(path)) {
                const std::string beside = folder_of(record_path) + "/" + name_of(path);
                if (exists(beside))
                    path = beside;
            }
            files->push_back(check_file(role, path, entry.at("sha256").get<std::string>()));
        }
        // A join's record names every segment; the first is the source again.
        if (record.contains("segments"))
            for (size_t i = 1; i < record.at("segments").size(); i++) {
                const json &entry = record.at("segments").at(i);
                const std::string path = entry.contains("path_base64")
                                             ? from_base64(entry.at("path_base64").get<std::string>())
                                             : entry.at("path").get<std::string>();
                files->push_back(check_file("segment", path, entry.at("sha256").get<std::string>()));
            }
    } catch (const std::exception &) {
        *error = "is not an evidence record";
        files->clear();
        return AVERROR_INVALIDDATA;
    }
    return 0;
}

const char *file_state_name(FileState state)
{
    switch (state) {
    case FileState::Intact:
        return "intact";
    case FileState::Changed:
        return "changed";
    case FileState::Missing:
        break;
    }
    return "missing";
}

std::string evidence_path_of(const std::string &path)
{
    char *resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return path;
    std::string text = resolved;
    free(resolved);
    return text;
}

void write_record_beside_output(EvidenceFacts facts, ConversionResult *result)
{
    const std::string output = result->outcome.outputs[0];
    facts.output_path = evidence_path_of(output);
    const int ret = sha256_of_file(output, &facts.output);
    if (ret < 0) {
        result->evidence_error = "the converted file could not be hashed: " + av_error_words(ret);
        return;
    }
    const std::string record = evidence_record_path(output);
    std::string error;
    if (write_evidence_record(record, *result, facts, &error) < 0)
        result->evidence_error = record + ": " + error;
    else
        result->evidence_path = record;
}

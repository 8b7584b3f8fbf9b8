// The evidence record: "<output file name>.evidence.json" beside a converted
// file, saying what was converted into what, how, when and by whom, with the
// SHA-256 of both files; and checking such a record again later. The source is
// hashed while the engine reads it (FollowingHasher). Called by run_conversion
// (conversion.h) and the batch command's --verify.
#pragma once

#include "conversion.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// "<output>.evidence.json".
std::string evidence_record_path(const std::string &output);

struct FileDigest {
    int64_t size = -1;
    int64_t modified_us = -1; // the file's modification time, microseconds since 1970
    std::string sha256;       // 64 lowercase hex digits; "" when not hashed
};

// Hashes the whole file at `path` (libavutil's SHA-256). 0, or a negative
// AVERROR when it cannot be read.
int sha256_of_file(const std::string &path, FileDigest *digest);

// Hashes a file while another reader goes through it, staying behind that
// reader's position (`reader_position`, kept up to date by the reader): the
// bytes it reads were just fetched and are still in memory, so the disk is read
// once. finish() hashes what the reader left unread, at full speed.
class FollowingHasher {
public:
    FollowingHasher(const std::string &path, const std::atomic<int64_t> *reader_position);
    ~FollowingHasher();
    FollowingHasher(const FollowingHasher &) = delete;
    FollowingHasher &operator=(const FollowingHasher &) = delete;
    // 0 with `digest` filled, or a negative AVERROR.
    int finish(FileDigest *digest);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// What a record says besides the run's plan and outcome.
struct EvidenceFacts {
    std::string source_path;
    std::string output_path;
    FileDigest source;
    FileDigest output;
    int64_t started_us = 0; // wall-clock, microseconds since 1970
    int64_t ended_us = 0;
    // A join's segments in the order joined (the first is also `source`).
    std::vector<std::pair<std::string, FileDigest>> segments;
};

// The absolute path of `path` with symbolic links resolved, as records name
// files; `path` itself when it cannot be resolved.
std::string evidence_path_of(const std::string &path);

// After a run that wrote its file (`result->outcome.outputs[0]`): hashes it and
// writes the record beside it with `facts` (the source's digest filled in),
// setting `result->evidence_path`, or `evidence_error` saying why not.
void write_record_beside_output(EvidenceFacts facts, ConversionResult *result);

// Writes the record of `result` (a run that wrote its file) to `record_path`,
// never over an existing file. 0, or a negative AVERROR with `error` saying why.
int write_evidence_record(const std::string &record_path, const ConversionResult &result,
                          const EvidenceFacts &facts, std::string *error);

// ---- checking records again ---------------------------------------------------------

enum class FileState { Intact, Changed, Missing };

struct CheckedFile {
    std::string role; // "source", "segment" or "output"
    std::string path; // where it was looked for
    FileState state = FileState::Missing;
};

// Hashes the files `record_path` names again and compares. An output no longer
// at its recorded path is looked for beside the record (records travel with
// their files). 0 with `files` filled, or a negative AVERROR with `error` when
// the record cannot be read or is not a record.
int verify_evidence_record(const std::string &record_path, std::vector<CheckedFile> *files, std::string *error);

// "intact", "changed", "missing".
const char *file_state_name(FileState state);

// wardline-convert --verify. See verify_records.h.
#include "verify_records.h"

#include "evidence.h"
#include "printable.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr int kExitFailed = 1;
constexpr const char kRecordSuffix[] = ".evidence.json";

bool is_record_name(const std::string &name)
{
    const size_t n = sizeof(kRecordSuffix) - 1;
    return name.size() > n && name.compare(name.size() - n, n, kRecordSuffix) == 0;
}

void records_under(const std::string &folder, std::vector<std::string> *found)
{
    std::error_code ec;
    std::vector<std::string> here;
    for (fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec), end;
         !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec) && is_record_name(it->path().filename().string()))
            here.push_back(it->path().string());
    if (ec)
        fprintf(stderr, "wardline-convert: %s: %s\n", printable_text(folder).c_str(), ec.message().c_str());
    std::sort(here.begin(), here.end());
    found->insert(found->end(), here.begin(), here.end());
}

} // namespace

std::vector<std::string> find_evidence_records(const std::vector<std::string> &inputs)
{
    std::vector<std::string> records;
    for (const std::string &input : inputs) {
        std::error_code ec;
        if (fs::is_directory(input, ec))
            records_under(input, &records);
        else
            records.push_back(input);
    }
    return records;
}

int verify_records(const std::vector<std::string> &inputs, FILE *out)
{
    const std::vector<std::string> records = find_evidence_records(inputs);
    if (records.empty()) {
        fprintf(stderr, "wardline-convert: no evidence record found\n");
        return kExitFailed;
    }
    int status = 0;
    size_t intact = 0, files = 0;
    for (const std::string &record : records) {
        fprintf(out, "%s\n", printable_text(record).c_str());
        std::vector<CheckedFile> checked;
        std::string error;
        if (verify_evidence_record(record, &checked, &error) < 0) {
            fprintf(out, "  %s\n", error.c_str());
            status = kExitFailed;
            continue;
        }
        for (const CheckedFile &f : checked) {
            fprintf(out, "  %-8s %-6s %s\n", file_state_name(f.state), f.role.c_str(), printable_text(f.path).c_str());
            files++;
            if (f.state == FileState::Intact)
                intact++;
            else
                status = kExitFailed;
        }
    }
    fflush(out);
    fprintf(stderr, "wardline-convert: %zu of %zu files intact (%zu %s)\n", intact, files, records.size(),
            records.size() == 1 ? "record" : "records");
    return status;
}

// wardline-convert --verify: checks evidence records against the files they
// name. Called by main.cpp.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// The records among `inputs`: a file is taken as a record, a folder gives the
// "*.evidence.json" files under it, in sorted order.
std::vector<std::string> find_evidence_records(const std::vector<std::string> &inputs);

// Checks every record and prints, for each, its name and one line per file it
// names ("  intact   source /x/cam01.ts"). Returns the exit status: 0 when
// every file is intact, 1 when one is changed or missing, a record cannot be
// read, or there is no record.
int verify_records(const std::vector<std::string> &inputs, FILE *out);

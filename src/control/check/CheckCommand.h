#pragma once
// spatialmux --check [--json] FILE...: the report of each file (what it is
// and whether it will do, control/movieinfo/MovieCheck.h), as text or one
// JSON object per line. Only reads: no file is written or changed.

#include <cstdio>
#include <string>
#include <vector>

namespace spatialmux {

// Checks every file and prints the reports (text, or one JSON object per
// line) to `out`. 0 when every file passed, 1 otherwise.
int RunMovieCheck(const std::vector<std::string>& paths, bool json, std::FILE* out);

}  // namespace spatialmux

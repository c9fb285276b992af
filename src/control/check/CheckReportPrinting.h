#pragma once
// The two forms of a --check report: a few lines for a person, and one JSON
// object (on one line) for scripts. Both carry the same facts.

#include <string>

#include "control/movieinfo/MovieCheck.h"

namespace spatialmux {

// Lines ending in a newline, the verdict last.
std::string CheckReportText(const CheckReport& report);

// One JSON object without a trailing newline.
std::string CheckReportJson(const CheckReport& report);

}  // namespace spatialmux

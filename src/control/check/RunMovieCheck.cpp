// spatialmux --check over its files, with libavformat's probe.
#include "control/check/CheckCommand.h"
#include "control/check/CheckReportPrinting.h"
#include "control/movieinfo/MovieCheck.h"

namespace spatialmux {

int RunMovieCheck(const std::vector<std::string>& paths, bool json, std::FILE* out) {
    SilenceMediaLog();
    bool allPassed = true;
    for (const std::string& path : paths) {
        const CheckReport report = CheckMovieFile(path);
        const std::string text = json ? CheckReportJson(report) + "\n" : CheckReportText(report);
        std::fputs(text.c_str(), out);
        std::fflush(out);
        allPassed = allPassed && report.Passed();
    }
    return allPassed ? 0 : 1;
}

}  // namespace spatialmux

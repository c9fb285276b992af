// A movie's report with libavformat's probe (MovieCheck.cpp reads the rest
// from the file's boxes, and the fuzz build gives it a stand-in probe).
#include "control/movieinfo/MovieCheck.h"
#include "output/OutputVerification.h"

namespace spatialmux {

CheckReport CheckMovieFile(const std::string& path) {
    CheckReport report = CheckMovieFile(path, ProbeMedia);
    // A conversion refuses an input whose video index and tables disagree
    // before any work: where the report would promise a conversion, it
    // says the same.
    if (!report.convertible && !report.ready && report.commands.empty()) return report;
    if (const auto disagreement = output::InputIndexDisagreement(path)) {
        const std::string reason = "the movie cannot be converted: " + *disagreement;
        if (report.kind == CheckReport::Kind::CameraMovie) {
            report.convertible = false;
            report.notConvertible = reason;
        } else {
            report.ready = false;
            report.notReady.push_back(reason);
        }
        report.commands.clear();
    }
    return report;
}

}  // namespace spatialmux

#include "control/job/SpatialChoice.h"

#include <cctype>

namespace spatialmux {

namespace {

bool SameWord(std::string_view word, std::string_view lower) {
    if (word.size() != lower.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(word[i])) != lower[i]) return false;
    }
    return true;
}

}  // namespace

const char* AmbisonicsWord(AmbisonicsChoice choice) {
    switch (choice) {
        case AmbisonicsChoice::AmbiX:
            return "ambix";
        case AmbisonicsChoice::FuMa:
            return "fuma";
        case AmbisonicsChoice::FromMovie:
            break;
    }
    return "";
}

const char* ProjectionWord(ProjectionChoice choice) {
    return choice == ProjectionChoice::Equirectangular ? "equirectangular" : "";
}

std::optional<AmbisonicsChoice> AmbisonicsNamed(std::string_view word) {
    for (const AmbisonicsChoice choice :
         {AmbisonicsChoice::FromMovie, AmbisonicsChoice::AmbiX, AmbisonicsChoice::FuMa}) {
        if (SameWord(word, AmbisonicsWord(choice))) return choice;
    }
    return std::nullopt;
}

std::optional<ProjectionChoice> ProjectionNamed(std::string_view word) {
    for (const ProjectionChoice choice :
         {ProjectionChoice::FromMovie, ProjectionChoice::Equirectangular}) {
        if (SameWord(word, ProjectionWord(choice))) return choice;
    }
    return std::nullopt;
}

}  // namespace spatialmux

#include "audio/AmbisonicRotation.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iomanip>
#include <locale>
#include <numbers>
#include <sstream>

namespace spatialmux {

namespace {

// The lowest 16-bit sample, -32768, at full scale 1.0.
constexpr double kLowest = -32768.0 / 32767.0;

struct SineCosine {
    double sine = 0.0;
    double cosine = 1.0;
};

// Exact for multiples of 90 degrees, where the library's sine of a rounded
// radian value would leave a stray 6e-17.
SineCosine OfDegrees(double degrees) {
    const double turned = NormalizedDegrees(degrees);
    if (turned == 0.0) return {0.0, 1.0};
    if (turned == 90.0) return {1.0, 0.0};
    if (turned == 180.0) return {0.0, -1.0};
    if (turned == -90.0) return {-1.0, 0.0};
    const double radians = turned * std::numbers::pi / 180.0;
    return {std::sin(radians), std::cos(radians)};
}

Rotation3 Times(const Rotation3& a, const Rotation3& b) {
    Rotation3 product{};
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < 3; ++j) {
            for (std::size_t k = 0; k < 3; ++k) product[i][j] += a[i][k] * b[k][j];
        }
    }
    return product;
}

// One angle of the text: a decimal number (a sign, digits with a point, an
// exponent), finite. It is read in the classic locale, never the user's, and
// by a stream rather than std::from_chars, whose floating-point form not
// every standard library has (the WebAssembly build's).
std::optional<double> ParseDegrees(std::string_view part) {
    if (!part.empty() && part.front() == '+') {
        part.remove_prefix(1);
        if (!part.empty() && (part.front() == '+' || part.front() == '-')) return std::nullopt;
    }
    const std::size_t digits = !part.empty() && part.front() == '-' ? 1 : 0;
    if (part.size() <= digits || part.find_first_not_of("0123456789.eE+-") != std::string::npos ||
        !(std::isdigit(static_cast<unsigned char>(part[digits])) || part[digits] == '.')) {
        return std::nullopt;
    }
    std::istringstream in{std::string(part)};
    in.imbue(std::locale::classic());
    double value = 0.0;
    in >> value;
    // The whole text, and a number: a stream fails on an overflow.
    if (in.fail() || !in.eof() || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

double NormalizedDegrees(double degrees) {
    if (!std::isfinite(degrees)) return degrees;
    double turned = std::fmod(degrees, 360.0);  // (-360, 360), exact
    if (turned > 180.0) turned -= 360.0;
    if (turned <= -180.0) turned += 360.0;
    return turned == 0.0 ? 0.0 : turned;  // no -0
}

bool AmbisonicRotation::IsIdentity() const {
    return NormalizedDegrees(yawDegrees) == 0.0 && NormalizedDegrees(pitchDegrees) == 0.0 &&
           NormalizedDegrees(rollDegrees) == 0.0;
}

std::optional<AmbisonicRotation> ParseAmbisonicRotation(std::string_view text,
                                                        std::string* problem) {
    const auto wrong = [&text, problem] {
        if (problem != nullptr) {
            *problem =
                "needs YAW[,PITCH[,ROLL]] in degrees (yaw +90 turns the front to the "
                "left, pitch +90 the front up, roll +90 the left up), not \"" +
                std::string(text) + "\"";
        }
        return std::nullopt;
    };
    double angles[3] = {0.0, 0.0, 0.0};
    std::string_view rest = text;
    for (int i = 0;; ++i) {
        if (i == 3) return wrong();
        const std::size_t comma = rest.find(',');
        const auto value = ParseDegrees(rest.substr(0, comma));
        if (!value) return wrong();
        angles[i] = NormalizedDegrees(*value);
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return AmbisonicRotation{angles[0], angles[1], angles[2]};
}

std::string AmbisonicRotationText(const AmbisonicRotation& rotation) {
    const double angles[3] = {NormalizedDegrees(rotation.yawDegrees),
                              NormalizedDegrees(rotation.pitchDegrees),
                              NormalizedDegrees(rotation.rollDegrees)};
    int shown = 3;
    while (shown > 1 && angles[shown - 1] == 0.0) --shown;
    std::string text;
    for (int i = 0; i < shown; ++i) {
        // A decimal point whatever the locale, and no more digits than the
        // angle needs (std::to_chars of a double is not in every standard
        // library this builds with).
        std::ostringstream number;
        number.imbue(std::locale::classic());
        number << std::setprecision(15) << angles[i];
        if (i > 0) text += ',';
        text += number.str();
    }
    return text;
}

std::string AmbisonicRotationWords(const AmbisonicRotation& rotation) {
    const AmbisonicRotation angles{NormalizedDegrees(rotation.yawDegrees),
                                   NormalizedDegrees(rotation.pitchDegrees),
                                   NormalizedDegrees(rotation.rollDegrees)};
    const auto number = [](double value) { return AmbisonicRotationText({value, 0.0, 0.0}); };
    return "yaw " + number(angles.yawDegrees) + ", pitch " + number(angles.pitchDegrees) +
           ", roll " + number(angles.rollDegrees) + " degrees";
}

Rotation3 RotationMatrix(const AmbisonicRotation& rotation) {
    const SineCosine t = OfDegrees(rotation.yawDegrees);
    const SineCosine p = OfDegrees(rotation.pitchDegrees);
    const SineCosine r = OfDegrees(rotation.rollDegrees);
    const Rotation3 yaw = {{{t.cosine, -t.sine, 0.0}, {t.sine, t.cosine, 0.0}, {0.0, 0.0, 1.0}}};
    const Rotation3 pitch = {{{p.cosine, 0.0, -p.sine}, {0.0, 1.0, 0.0}, {p.sine, 0.0, p.cosine}}};
    const Rotation3 roll = {{{1.0, 0.0, 0.0}, {0.0, r.cosine, -r.sine}, {0.0, r.sine, r.cosine}}};
    return Times(roll, Times(pitch, yaw));
}

void RotateAmbisonics(const Rotation3& m, float* y, float* z, float* x, int64_t count) {
    const auto held = [](double value) {
        return static_cast<float>(std::clamp(value, kLowest, 1.0));
    };
    for (int64_t i = 0; i < count; ++i) {
        const double in[3] = {x[i], y[i], z[i]};
        double out[3];
        for (std::size_t row = 0; row < 3; ++row) {
            out[row] = m[row][0] * in[0] + m[row][1] * in[1] + m[row][2] * in[2];
        }
        x[i] = held(out[0]);
        y[i] = held(out[1]);
        z[i] = held(out[2]);
    }
}

}  // namespace spatialmux

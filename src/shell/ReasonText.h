#pragma once
// The reasons the command-line program gives in English (why a movie cannot
// be converted, as --check says it) in the user's language, for the
// droplet's alerts and the queue window's rows.

#include <string>

namespace spatialmux {

// `english` in the user's language where its form is known; as it is
// otherwise.
std::string LocalizedReason(const std::string& english);

}  // namespace spatialmux

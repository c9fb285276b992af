#pragma once
// The one way a job says why it failed or was refused, in English, for the
// programs that read it: the "error!!" line on standard output (people and
// old scripts read it there), and the cause kept for the process, which
// `--progress=machine` hands on in its end line ("cause"), where a batch and
// the queue window read it instead of scraping standard output.

#include <string>

namespace spatialmux {

// Prints "error!! CAUSE" ("error!!" alone for an empty cause) and keeps it.
void SayFailure(const std::string& cause);
// Keeps `cause` without a line of its own: for a refusal whose line says it
// in another form.
void KeepFailureCause(const std::string& cause);
// The cause kept last in this process, or "".
std::string LastFailureCause();

}  // namespace spatialmux

#include "control/job/EngineChoice.h"

#include <atomic>

#include "control/job/OutputContainer.h"

namespace spatialmux {

namespace {
std::atomic<bool> remuxForced{false};
}  // namespace

void ForceRemux(bool force) {
    remuxForced = force;
}

bool RemuxForced() {
    return remuxForced;
}

bool UsesEditEngine(const std::string& output, output::AudioCodec codec) {
    return !remuxForced && codec == output::AudioCodec::Pcm &&
           ContainerFor(output) == OutputContainer::Mov;
}

}  // namespace spatialmux

#pragma once
// One run of the droplet on an existing QApplication: the progress window,
// the delegate, the files handed over at launch, the event loop, and the
// wait for every thread the conversion started.

#include <optional>
#include <string>
#include <vector>

namespace spatialmux {

namespace platform {
class QtBackend;
}
class SaveDialog;
class SoundMapOffer;

// Installs `backend` for the session and removes it at its end. `handedOver`
// holds the files handed to the application at launch (as one drop), or
// nothing when none were. Returns the event loop's exit status once the
// application has been asked to end and no thread of it runs any more.
// `soundMapOffer` (not owned) is offered after a finished conversion;
// without one a plain notice says where the movie went.
int RunDropletSession(platform::QtBackend& backend, SaveDialog& saveDialog,
                      const std::optional<std::vector<std::string>>& handedOver,
                      SoundMapOffer* soundMapOffer = nullptr);

}  // namespace spatialmux

#pragma once
// After a finished conversion the windowed converter offers two ways to
// check the written movie: its notice gets a "Show Sound Map" button (the
// map, a PNG beside the movie, opens in the desktop's picture viewer) and a
// "Listen" button (the headphone render, NAME.binaural.m4a beside the
// movie, opens in the desktop's player). Tests put in their own offer.

#include <memory>
#include <string>

namespace spatialmux {

class SoundMapOffer {
public:
    enum class Choice {
        Dismiss,   // "OK"
        SoundMap,  // "Show Sound Map"
        Listen,    // "Listen"
    };

    virtual ~SoundMapOffer() = default;
    // Shows the notice `text` with "OK", "Show Sound Map" and "Listen" on
    // the GUI thread; the button chosen.
    virtual Choice Ask(const std::string& text) = 0;
    // Opens the picture at `path` with the desktop's viewer; false when
    // there is none to open it.
    virtual bool Open(const std::string& path) = 0;
    // The headphone render has come `percent` (0 to 100) of its way; false
    // when the user wants it stopped. Called on the GUI thread while it
    // renders.
    virtual bool Rendering(float percent) = 0;
    // The render has ended, written or not.
    virtual void RenderingEnded() = 0;
    // Opens the sound at `path` with the desktop's player; false when there
    // is none to open it.
    virtual bool Play(const std::string& path) = 0;
};

// The desktop's: a message box, the viewer and the player the desktop
// associates with PNG pictures and M4A sound, and a progress dialog with a
// Cancel button while the headphone render runs.
class DesktopSoundMapOffer : public SoundMapOffer {
public:
    DesktopSoundMapOffer();
    ~DesktopSoundMapOffer() override;
    Choice Ask(const std::string& text) override;
    bool Open(const std::string& path) override;
    bool Rendering(float percent) override;
    void RenderingEnded() override;
    bool Play(const std::string& path) override;

private:
    struct Progress;
    std::unique_ptr<Progress> progress;
};

}  // namespace spatialmux

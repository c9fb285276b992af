#pragma once
// The gain on the first audio channel, chosen from the camera's software
// text and maker-note flag.

#include <string>

namespace spatialmux {

// The software text that names the camera model with the known microphone
// levels (21 characters; later characters, such as a longer version number,
// do not matter).
inline constexpr const char* kCameraModelLiteral = "ZORVA VELIX V Ver 1.1";

// +3 dB (0x3FB4CE08) for the maker-note flag 0 and for every other camera;
// -3 dB (0x3F353BEF) for the recognised model with the flag set.
float ChooseGain(const std::string& softwareText, bool makerNoteFlag);

}  // namespace spatialmux

#pragma once
// The hidden names one conversion uses beside its output, all derived from
// the output's file name so that a person looking into the folder sees what
// they belong to, and all within the 255 bytes a file name may have:
//
//   .NAME.spatialmux-x7k2q9.mov   the output while it is written (the real
//                                 extension stays last, so anything that
//                                 guesses a format by name guesses right)
//   .NAME.spatialmux-x7k2q9.wav   the temporary WAV of the same run
//   .NAME.spatialmux-lock         the lock that keeps a second conversion
//                                 to the same output out
//
// A NAME too long for that is cut (at a character boundary) and marked with
// a hash of the whole name, so that two long names stay apart.

#include <optional>
#include <string>

namespace spatialmux {

class TemporaryNames {
public:
    // For the file `finalPath` (its folder and name); nothing when no name
    // can be made (an extension too long to keep).
    static std::optional<TemporaryNames> For(const std::string& finalPath);

    // A fresh random tag for one run's names.
    static std::string NewTag();

    std::string Output(const std::string& tag) const { return prefix + tag + extension; }
    std::string Wav(const std::string& tag) const { return Scratch(tag, ".wav"); }
    // A further file of the same run, ending in `ending` (".wav" and the
    // output's own extension are the ones IsTemporary knows).
    std::string Scratch(const std::string& tag, const std::string& ending) const {
        return prefix + tag + ending;
    }
    std::string Lock() const { return prefix + "lock"; }
    const std::string& Folder() const { return folder; }
    // Whether the file name `entry` (no folder) is one of the temporary files
    // some run made for this output, whatever its tag.
    bool IsTemporary(const std::string& entry) const;

    static constexpr std::size_t kTagLength = 6;

private:
    std::string folder;      // "." for a bare name
    std::string prefix;      // folder + "/." + NAME + ".spatialmux-"
    std::string namePrefix;  // the same without the folder
    std::string extension;   // ".mov", or "" when the name has none
};

// The temporary WAV beside the output: "<folder>/.<name>.wav", the folder
// being "." for a bare file name.
std::string TemporaryWavPath(const std::string& outputPath);

}  // namespace spatialmux

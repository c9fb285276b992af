#pragma once
// The parts of a file-system path as the conversion uses them: the folder
// that holds a file and the file's own name. Paths are byte strings; '/'
// separates their components.

#include <string>

namespace spatialmux::platform {

// The folder of `path`: "." for a bare name, "/" for a file at the root.
std::string FolderOf(const std::string& path);

// The last component of `path` (the whole path when it has no '/').
std::string FileNameOf(const std::string& path);

// The extension of the last component, with its dot and in lower case
// (".mov"); empty when the name has none (a name's leading dot starts none).
std::string LowerExtension(const std::string& path);

// `path` with `ending` in place of the last component's extension (or
// added to a name without one): ("a/B.MP4", ".soundmap.png") gives
// "a/B.soundmap.png".
std::string WithEnding(const std::string& path, const std::string& ending);

}  // namespace spatialmux::platform

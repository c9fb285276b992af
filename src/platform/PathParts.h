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

}  // namespace spatialmux::platform

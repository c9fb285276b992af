#pragma once
// Path helpers of the droplet: where the save dialog opens, which name it
// proposes for the converted movie, and the file names the progress window
// shows. Paths are byte strings; '/' separates their components.

#include <functional>
#include <string>

namespace spatialmux {

// The last component of `path`, trailing separators ignored ("/a/b.mp4" ->
// "b.mp4", "/a/b/" -> "b", "/" -> "/").
std::string LastPathComponent(const std::string& path);

// `path` without its last component ("/a/b.mp4" -> "/a", "/b.mp4" -> "/",
// "b.mp4" -> "").
std::string DeletingLastPathComponent(const std::string& path);

// The output name proposed for an input file name: every ".mp4" removed,
// then every ".MP4" removed, exactly in that case, wherever they occur
// ("clip.mp4.MP4" -> "clip", "A.Mp4" stays).
std::string ProposedOutputName(const std::string& inputFileName);

// The name the save dialog proposes beside the input: ProposedOutputName,
// except that a proposal that would be the input's own name once the
// dialog adds ".mov" ("clip.mov" for "clip.mov", likewise "A.Mp4") gets "-360" in front of
// its extension ("clip-360.mov"), so that accepting it never means
// replacing the footage.
std::string ProposedOutputNameBeside(const std::string& inputFileName);

// The same for a folder that is asked: `isInput` says whether a name in the
// input's folder is the input itself (by name, by identity, or in another
// letter case on a folder that does not tell case apart), `exists` whether
// something has that name. A proposal that would be the input becomes
// NAME-360.EXT, or the first of NAME-360-2.EXT, NAME-360-3.EXT, ... that
// nothing has.
using NameTest = std::function<bool(const std::string& name)>;
std::string ProposedOutputNameBeside(const std::string& inputFileName, const NameTest& isInput,
                                     const NameTest& exists);

// `path` itself when its name ends in ".mov" or ".mp4" (any case), otherwise
// `path` with ".mov" appended: the droplet writes a QuickTime movie unless
// an MP4 was asked for by name (the save dialog's MP4 filter adds ".mp4").
std::string WithMovieExtension(const std::string& path);

}  // namespace spatialmux

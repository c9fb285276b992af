#pragma once
// The progress of one conversion for other programs:
// `spatialmux --progress=machine INPUT OUTPUT` writes a line on standard
// error whenever the percentage (to a tenth) or the phase changes, and one
// last line with the result. Each such line is the word kLinePrefix, a
// space and one JSON object (UTF-8, on one line); any other line on
// standard error is meant for people and is to be ignored by a program.
//
// Only the program's own protocol lines start with kLinePrefix. The other
// lines the program writes there are its alerts, its "spatialmux: ..."
// messages and FFmpeg's log lines ("[mov,mp4,... @ 0x...] ..."). The names
// in the program's own have their control characters escaped (a line break
// inside a name shows as \n), and an alert's line that would still start
// with the word has "> " in front. A file name cannot forge a line; the end
// line comes once, the program's last protocol line.
//
//   spatialmux-progress {"event":"start","protocol":1,"input":"/card/A.MP4","output":"/out/A.mov"}
//   spatialmux-progress {"event":"progress","percent":0.0,"phase":"check"}
//   spatialmux-progress {"event":"progress","percent":12.5,"phase":"audio"}
//   spatialmux-progress {"event":"end","result":"converted","output":"/out/A.mov","size":81234567}
//   spatialmux-progress
//   {"event":"end","result":"failed","output":"/out/A.mov","message":"...","cause":"..."}
//
// The keys and their values are fixed English words; "message" is the text
// the command line shows the user, in the user's language; "cause", when the
// job named one, why it failed or was refused, in English, as its "error!!"
// line on standard output says it (control/job/FailureCause.h). New keys may be
// added; a reader ignores keys it does not know.

namespace spatialmux::progress_protocol {

inline constexpr const char* kLinePrefix = "spatialmux-progress";
inline constexpr int kVersion = 1;

// "event"
inline constexpr const char* kStart = "start";
inline constexpr const char* kProgress = "progress";
inline constexpr const char* kEnd = "end";

// "phase" of a progress event: the checks before any file is written, then
// the steps of the engine that runs.
inline constexpr const char* kPhaseCheck = "check";
// "result" of the end event.
inline constexpr const char* kConverted = "converted";  // written and verified; "size" in bytes
inline constexpr const char* kRefused = "refused";      // refused before anything was written
inline constexpr const char* kFailed = "failed";        // failed after it started; nothing kept
inline constexpr const char* kStopped = "stopped";      // stopped by a signal; nothing kept

}  // namespace spatialmux::progress_protocol

#pragma once
// TEST HOOK, for the tests of stop signals only: lets a test stop the real
// program at a named point of a conversion, so that a signal can be sent
// exactly there. Inert unless the environment sets
//   SPATIALMUX_TEST_PAUSE_AT=<point>    (one of the names below)
//   SPATIALMUX_TEST_PAUSE_FILE=<path>   (created when the point is reached;
//                                        it must lie outside the output's
//                                        folder)
// The program then waits at that point, up to 30 seconds, until a cancel
// request or a stop signal arrives or the test removes the file, and goes
// on as it would have.
//
// Points: "wav-start" (first frame written), "wav-middle" (half of the
// WAV), "remux" (first audio packet muxed), "remux-end" (the remux is done),
// "transplant" (before the new moov is written); of the edit: "edit-copy"
// (the copy started), "edit-audio" (half of the audio written), "edit-moov"
// (before the new moov is written); of both: "verify" (before the output
// is verified), "commit" (before the rename into place); of --binaural:
// "binaural-measured" (the peak is known), "binaural-render" (the first
// block of the ears written), "binaural-mux" (the first packet of the
// remux).

namespace spatialmux {

void TestPausePoint(const char* point);

}  // namespace spatialmux

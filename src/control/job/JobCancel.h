#pragma once
// The request to stop the running job: made by a front end's cancel (the
// droplet's button, the windowed program's stop signals), read by the job's
// loops together with the command line's stop signals.

namespace spatialmux {

// Asks the running job to stop at its next frame, packet or pause point.
void RequestJobCancel();

// Withdraws the request: a new job begins.
void ClearJobCancel();

// A cancel request, or a stop signal the command line received.
bool JobCancelRequested();

}  // namespace spatialmux

#pragma once
// Not built: a shared room that reaches up into a command and into the
// entry, for the test that the include check catches it; its own room's
// header is allowed.
#include "control/ConsoleProgress.h"
#include "control/convert/wrap_ffmpeg.h"
#include "control/job/OutputCommit.h"

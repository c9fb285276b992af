#pragma once
// Not built: an output file that reaches up into the controller, for the
// test that the include check catches it.
#include "control/convert/wrap_ffmpeg.h"

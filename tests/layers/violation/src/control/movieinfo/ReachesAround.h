#pragma once
// Not built: a shared room that includes a room which includes it back (an
// arrow up inside control), for the test that the include check catches it.
#include "control/ambisonics/ReachesAround.h"

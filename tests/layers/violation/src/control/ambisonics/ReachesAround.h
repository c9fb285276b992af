#pragma once
// Not built: the other half of the circle of control/movieinfo/ReachesAround.h.
#include "control/movieinfo/ReachesAround.h"

#pragma once
// Not built: a command that reaches into another command's folder (what they
// share belongs in a shared room), for the test that the include check
// catches it; the shared room it includes is allowed.
#include "control/check/CheckReportPrinting.h"
#include "control/job/HumanSize.h"

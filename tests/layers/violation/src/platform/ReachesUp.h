#pragma once
// Not built: platform uses nothing above it (the include check must say so).
#include "audio/ByteOrder.h"
#include "platform/Backend.h"

#pragma once
// Not built: the FFmpeg floor uses nothing above it (the include check must
// say so).
#include "ffmpeg/Handles.h"
#include "movie/MovieReader.h"

#pragma once
// Not built: the reader outside movie/ffmpeg may not use the FFmpeg floor
// either, so that the fuzz build links no FFmpeg.
#include "ffmpeg/Handles.h"

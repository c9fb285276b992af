#pragma once
// Not built: the reader may not use FFmpeg (the include check must say so).
#include <libavformat/avformat.h>

#include "movie/MovieReader.h"

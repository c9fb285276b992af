# The FFmpeg API spatialmux builds on: the calls that exist in every FFmpeg
# from 5.1 to 7.1. FFmpeg marks a call deprecated a release or two before it
# removes it, so a deprecated call is made an error here already: it would
# fail to build on the newer FFmpeg a user's distribution ships. Calls that
# changed between those releases sit behind LIBAVFORMAT_VERSION_INT or
# LIBAVCODEC_VERSION_INT checks in the code.
#
# spatialmux_strict_ffmpeg_api(TARGET...) marks every source of each target
# that exists (whole targets: nothing else in them is deprecated, and a new
# file that includes libav* headers is covered without anyone remembering).
function(spatialmux_strict_ffmpeg_api)
  foreach(target IN LISTS ARGN)
    if(TARGET ${target})
      target_compile_options(${target} PRIVATE -Werror=deprecated-declarations)
    endif()
  endforeach()
endfunction()

# The browser's build (included by CMakeLists.txt under em++, through
# tools/build_web.sh): the codec-free core and the entry of src/web, linked
# into core/spatialmux-core.js and .wasm, a classic script that a page's
# worker loads with importScripts and Node with require.

# nlohmann/json is header-only: the system's headers, seen alone (the rest
# of /usr/include is not for WebAssembly).
find_path(SPATIALMUX_JSON_HEADERS nlohmann/json.hpp PATHS /usr/include /usr/local/include
          NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(WEB_JSON_INCLUDE ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${WEB_JSON_INCLUDE})
file(CREATE_LINK ${SPATIALMUX_JSON_HEADERS}/nlohmann ${WEB_JSON_INCLUDE}/nlohmann SYMBOLIC)

# The check's JSON and the output's name are the desktop program's own.
file(GLOB WEB_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/web/*.cpp)
add_executable(spatialmux-core ${WEB_SOURCES} ${CMAKE_SOURCE_DIR}/src/control/check/CheckReportPrinting.cpp
               ${CMAKE_SOURCE_DIR}/src/control/batch/BatchPlan.cpp)
target_link_libraries(spatialmux-core PRIVATE spatialmux_codec_free)
target_include_directories(spatialmux-core SYSTEM PRIVATE ${WEB_JSON_INCLUDE})
# The protocol's reading (control/job/ProgressEvents) is JSON too.
target_include_directories(spatialmux_codec_free SYSTEM PRIVATE ${WEB_JSON_INCLUDE})
set_target_properties(spatialmux-core PROPERTIES SUFFIX ".js"
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/core)
set(WEB_EXPORTS _smx_check _smx_output_name _smx_convert _smx_free _malloc _free)
list(JOIN WEB_EXPORTS "," WEB_EXPORTS_TEXT)
target_link_options(spatialmux-core PRIVATE
  -sMODULARIZE=1 -sEXPORT_NAME=createSpatialmuxCore -sENVIRONMENT=web,worker,node
  -lworkerfs.js -lnodefs.js -sFORCE_FILESYSTEM=1 -sALLOW_MEMORY_GROWTH=1
  -sEXPORTED_FUNCTIONS=[${WEB_EXPORTS_TEXT}]
  "-sEXPORTED_RUNTIME_METHODS=[FS,ccall,cwrap,UTF8ToString,stringToUTF8,lengthBytesUTF8]"
  --js-library ${CMAKE_SOURCE_DIR}/src/web/LargeFileOffsets.js)
# Offsets past 2 GiB: the file's reads, writes and length (see the file).
set_target_properties(spatialmux-core PROPERTIES LINK_DEPENDS ${CMAKE_SOURCE_DIR}/src/web/LargeFileOffsets.js)

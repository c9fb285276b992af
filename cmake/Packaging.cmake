# What an installation holds beyond the programs (manual pages, shell
# completion, icons, AppStream metadata, the package's documents), and the
# Debian package made from it: `cpack -G DEB` in a build, or tools/package.sh.
# The test suite and the fixture builder are never installed.

set(SPATIALMUX_PACKAGE_MAINTAINER "The spatialmux project <spatialmux@users.noreply.github.com>"
    CACHE STRING "The Maintainer field of the Debian package")

set(PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
find_program(GZIP_PROGRAM gzip REQUIRED)

# Debian wants manual pages and changelogs compressed, reproducibly (-n: no
# name or time stamp in the header).
set(PACKAGING_GZ_FILES)
function(spatialmux_gzip source output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${GZIP_PROGRAM} -9nc ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${output}")
  set(PACKAGING_GZ_FILES ${PACKAGING_GZ_FILES} ${output} PARENT_SCOPE)
endfunction()

# ---- manual pages: the version in their header is the project's
foreach(page spatialmux.1 spatialmux-render.1 spatialmux-droplet.1 spatialmux-gui.1 spatialmux-web.1)
  set(source ${CMAKE_SOURCE_DIR}/resources/man/${page})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} text)
  string(REGEX REPLACE "\"spatialmux [0-9][0-9.]*\"" "\"spatialmux ${PROJECT_VERSION}\"" text "${text}")
  file(CONFIGURE OUTPUT ${PACKAGING_OUT}/${page} CONTENT "${text}" @ONLY)
  spatialmux_gzip(${PACKAGING_OUT}/${page} ${PACKAGING_OUT}/${page}.gz)
endforeach()
install(FILES ${PACKAGING_OUT}/spatialmux.1.gz ${PACKAGING_OUT}/spatialmux-render.1.gz
        DESTINATION share/man/man1)
if(SPATIALMUX_WITH_QT)
  install(FILES ${PACKAGING_OUT}/spatialmux-droplet.1.gz ${PACKAGING_OUT}/spatialmux-gui.1.gz
          DESTINATION share/man/man1)
endif()

# ---- shell completion
install(FILES resources/completion/spatialmux.bash
        DESTINATION share/bash-completion/completions RENAME spatialmux)

# ---- the desktop application's icons and AppStream metadata (the desktop
# entries and the scalable icon are installed with the windowed programs)
if(SPATIALMUX_WITH_QT)
  foreach(size 48x48 128x128)
    install(FILES resources/icons/hicolor/${size}/apps/spatialmux.png
            DESTINATION share/icons/hicolor/${size}/apps)
  endforeach()
  install(FILES resources/io.github.spatialmux.metainfo.xml DESTINATION share/metainfo)
endif()

# ---- the browser edition: the page that tools/build_web.sh builds into
# build-web/ (tools/package.sh builds it first), and spatialmux-web, which
# serves it on 127.0.0.1. Without a built page neither is installed.
if(EXISTS ${SPATIALMUX_WEB_DIR}/index.html AND EXISTS ${SPATIALMUX_WEB_DIR}/core/spatialmux-core.wasm)
  install(DIRECTORY ${SPATIALMUX_WEB_DIR}/ DESTINATION share/spatialmux/web
          FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  install(PROGRAMS resources/spatialmux-web DESTINATION bin)
  install(FILES ${PACKAGING_OUT}/spatialmux-web.1.gz DESTINATION share/man/man1)
  set(SPATIALMUX_PACKAGE_WEB ON)
else()
  message(STATUS "No built page in ${SPATIALMUX_WEB_DIR} (bash tools/build_web.sh): "
                 "the browser edition and spatialmux-web are not installed")
  set(SPATIALMUX_PACKAGE_WEB OFF)
endif()

# ---- the package's documents
spatialmux_gzip(${CMAKE_SOURCE_DIR}/resources/debian/changelog ${PACKAGING_OUT}/changelog.gz)
install(FILES ${PACKAGING_OUT}/changelog.gz resources/debian/copyright
        DESTINATION share/doc/spatialmux)

add_custom_target(spatialmux_packaging_files ALL DEPENDS ${PACKAGING_GZ_FILES})

# ---- the Debian package
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME spatialmux)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${SPATIALMUX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # spatialmux_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${SPATIALMUX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Depends field from the libraries the programs link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(SPATIALMUX_PACKAGE_WEB)
  # spatialmux-web is Python (http.server) and opens a browser.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "chromium | firefox-esr | www-browser")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The first line is the synopsis; CPack indents the lines that follow, and
# an empty line separates paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "converter for the spatial audio of 360-degree camera movies
spatialmux converts the movies of a 360-degree camera (H.264 or HEVC video
with four-channel first-order ambisonic audio) into QuickTime movies that
players of spatial video understand. The video is copied as it is, never
re-encoded; the four audio channels are put into ambisonic order with the
camera model's level correction; and the camera's spherical-video and
spatial-audio metadata are kept.

It works from a terminal (spatialmux INPUT OUTPUT, or a whole card with
spatialmux -o DIR CARD) and from the desktop: a window takes a card's worth
of movies (drop them or their folder on it), converts them with a progress
bar for each, and offers each one's sound map and details; a droplet
converts one movie opened with it.")
include(CPack)

# ---- the manual page and the completion keep up with the program's options
if(SPATIALMUX_BUILD_TESTS)
  add_test(NAME documented_options
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/packaging/documented_options.sh
                   $<TARGET_FILE:spatialmux> ${CMAKE_SOURCE_DIR}/resources/man/spatialmux.1
                   ${CMAKE_SOURCE_DIR}/resources/completion/spatialmux.bash)
endif()

# ---- libavfilter loads for the headphone render's program alone
if(SPATIALMUX_BUILD_TESTS)
  add_test(NAME linked_libraries
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/packaging/linked_libraries.sh
                   $<TARGET_FILE:spatialmux> $<TARGET_FILE:spatialmux-render>)
endif()

# ---- the many-machines recipes of docs/many-machines.md, run as written
if(SPATIALMUX_BUILD_TESTS)
  add_test(NAME many_machines_recipe
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/packaging/many_machines.sh
                   $<TARGET_FILE:spatialmux> $<TARGET_FILE:make_camera_movie>
                   ${CMAKE_SOURCE_DIR}/docs/many-machines.md)
  set_tests_properties(many_machines_recipe PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
endif()

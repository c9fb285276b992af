# macOS: the windowed converter as an application bundle (built as
# spatialmux-droplet.app, installed as spatialmux.app), whose Info.plist (resources/macos/Info.plist.in) declares
# the movies it opens, so that a movie dropped on its icon in the Dock or
# the Finder reaches it through Qt's file-open event (src/shell/
# FileOpenEvents). The command-line program is put into the bundle beside
# the windowed one, where it looks for it. Not built here: see README,
# "Building on macOS".
if(APPLE AND SPATIALMUX_WITH_QT)
  # The bundle's executable keeps the windowed program's name.
  add_executable(spatialmux_app MACOSX_BUNDLE src/shell/launcher/spatialmux_droplet.cpp)
  target_link_libraries(spatialmux_app PRIVATE spatialmux_gui)
  set_target_properties(spatialmux_app PROPERTIES
    OUTPUT_NAME spatialmux-droplet
    MACOSX_BUNDLE_INFO_PLIST ${CMAKE_SOURCE_DIR}/resources/macos/Info.plist.in
    MACOSX_BUNDLE_GUI_IDENTIFIER io.github.spatialmux
    MACOSX_BUNDLE_BUNDLE_NAME spatialmux
    MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION}
    MACOSX_BUNDLE_BUNDLE_VERSION ${PROJECT_VERSION})

  set(APP_MACOS_DIR ${CMAKE_BINARY_DIR}/spatialmux-droplet.app/Contents/MacOS)
  # The command line runs spatialmux --binaural in the render program beside it.
  add_custom_command(
    OUTPUT ${APP_MACOS_DIR}/spatialmux ${APP_MACOS_DIR}/spatialmux-render
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:spatialmux> ${APP_MACOS_DIR}/spatialmux
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:spatialmux-render>
            ${APP_MACOS_DIR}/spatialmux-render
    DEPENDS spatialmux spatialmux-render spatialmux_app
    COMMENT "Putting the command line into the application bundle")
  add_custom_target(spatialmux_app_command_line ALL
                    DEPENDS ${APP_MACOS_DIR}/spatialmux ${APP_MACOS_DIR}/spatialmux-render)

  install(DIRECTORY $<TARGET_BUNDLE_DIR:spatialmux_app>/ DESTINATION spatialmux.app
          USE_SOURCE_PERMISSIONS)
endif()

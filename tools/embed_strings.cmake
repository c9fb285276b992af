# Embeds every resources/strings/<language>.strings file whole into a C++
# source; the program parses them at first use.
file(GLOB files "${DIR}/*.strings")
list(SORT files)
set(body "")
foreach(f IN LISTS files)
  get_filename_component(lang "${f}" NAME_WE)
  file(READ "${f}" content)
  string(APPEND body "    {\"${lang}\", R\"__strings__(${content})__strings__\"},\n")
endforeach()
file(WRITE "${OUT}.tmp"
"// Generated from resources/strings by tools/embed_strings.cmake. Do not edit.\n"
"#include \"platform/LocalizedStringTable.h\"\n\n"
"namespace spatialmux::platform {\n\n"
"const LocalizedStringFile kLocalizedStringFiles[] = {\n${body}};\n"
"const std::size_t kLocalizedStringFileCount = sizeof(kLocalizedStringFiles) / sizeof(kLocalizedStringFiles[0]);\n\n"
"}  // namespace spatialmux::platform\n")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUT}.tmp" "${OUT}")

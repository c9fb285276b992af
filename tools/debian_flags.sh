# Sourced by tools/build.sh and tools/package.sh: the compiler and linker
# flags of a Debian package build, with all of Debian's hardening
# (immediate binding included), as cmake arguments in the array
# debian_cmake_flags. The test build and the package use the same flags, so
# the package is made from the binaries the tests ran.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
debian_cmake_flags=(
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS) -fno-ident"
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
  # Line tables only: backtraces keep their lines, the build takes a third
  # less time, and the package strips debug information anyway.
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
)
# An if, not an &&: the status of a sourced file is that of its last command,
# and without ccache an && would end the sourcing script under set -e.
if command -v ccache >/dev/null; then
  debian_cmake_flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

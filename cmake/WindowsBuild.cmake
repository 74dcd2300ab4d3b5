# The Windows build, cross-built on Debian (cmake/mingw-w64-x86_64.cmake). So far: the
# portable libraries, the Windows platform layer and their tests, which run under Wine
# (tests/win/in_wine.sh, a fresh Wine prefix for every test program). The web view
# engine is built; the program itself is not linked yet.
find_program(NODE_EXECUTABLE node REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_SOURCE_DIR}/tests/win/in_wine.sh)

set(MSW_PLATFORM win)
add_subdirectory(app/common)
add_subdirectory(app/platform)
add_subdirectory(webview)
add_subdirectory(app/host)
add_subdirectory(app/services)

if(MOSSWIRE_TESTS)
  enable_testing()
  # No Debian package holds googletest built for MinGW: it is built here from the sources
  # Debian's googletest package installs.
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_subdirectory(tests/win)
endif()

# The Windows build, cross-built on Debian (cmake/mingw-w64-x86_64.cmake): the portable
# libraries, the Windows platform layer, the WebView2 engine, the host and the services,
# linked into mosswire.exe, and their tests, which run under Wine (tests/win/in_wine.sh,
# a fresh Wine prefix for every test program).
find_program(NODE_EXECUTABLE node REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_SOURCE_DIR}/tests/win/in_wine.sh)

set(MSW_PLATFORM win)
add_subdirectory(app/common)
add_subdirectory(app/platform)
add_subdirectory(webview)
add_subdirectory(app/host)
add_subdirectory(app/services)

# The program: one statically linked GUI-subsystem mosswire.exe with the seven page files
# built in, and its resources (icon 1, version record, manifest with per-monitor DPI
# awareness and common controls 6).
include(cmake/PageAssets.cmake)
set(MSW_WIN_DIR ${CMAKE_SOURCE_DIR}/app/platform/win)
configure_file(${MSW_WIN_DIR}/mosswire.rc.in ${CMAKE_BINARY_DIR}/mosswire.rc @ONLY)
set_source_files_properties(${CMAKE_BINARY_DIR}/mosswire.rc PROPERTIES
  OBJECT_DEPENDS "${MSW_WIN_DIR}/mosswire.ico;${MSW_WIN_DIR}/mosswire.manifest")
add_executable(mosswire WIN32 app/main.cpp $<TARGET_OBJECTS:msw_host> ${CMAKE_BINARY_DIR}/page_assets.cpp
  ${CMAKE_BINARY_DIR}/mosswire.rc)
add_dependencies(mosswire msw_page_assets)
target_include_directories(mosswire PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/app/host)
target_link_libraries(mosswire PRIVATE msw_host msw_services msw_platform)
set_target_properties(mosswire PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

if(MOSSWIRE_TESTS)
  enable_testing()
  # No Debian package holds googletest built for MinGW: it is built here from the sources
  # Debian's googletest package installs.
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_subdirectory(tests/win)
endif()

# The page files: scripts/gen-web.js lays out the seven files (config.js from the build
# settings, app.js joined from web/app/), then embed_assets turns a folder of seven files
# into a C++ asset table. Any change under web/ rebuilds the table.

find_program(NODE_EXECUTABLE node REQUIRED)

# The tool runs on the build machine: in a cross build (Windows) it is compiled with the
# build machine's own compiler, not the target's.
if(CMAKE_CROSSCOMPILING)
  find_program(MSW_HOST_CXX NAMES c++ g++ REQUIRED)
  set(MSW_EMBED_ASSETS ${CMAKE_BINARY_DIR}/embed_assets_host)
  add_custom_command(
    OUTPUT ${MSW_EMBED_ASSETS}
    COMMAND ${MSW_HOST_CXX} -std=c++17 -O1 -o ${MSW_EMBED_ASSETS} ${CMAKE_SOURCE_DIR}/cmake/embed_assets.cpp
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/embed_assets.cpp
    COMMENT "Building embed_assets for the build machine"
    VERBATIM)
else()
  add_executable(embed_assets ${CMAKE_SOURCE_DIR}/cmake/embed_assets.cpp)
  set(MSW_EMBED_ASSETS embed_assets)
endif()

# msw_embed_page_files(OUT_CPP DIR STAMP_OR_FILES...): generated table for the seven
# files in DIR, rebuilt when any of the DEPENDS change.
function(msw_embed_page_files out_cpp dir)
  add_custom_command(
    OUTPUT ${out_cpp}
    COMMAND ${MSW_EMBED_ASSETS} ${out_cpp} ${dir}
    DEPENDS ${MSW_EMBED_ASSETS} ${ARGN}
    COMMENT "Building the asset table from ${dir}"
    VERBATIM)
endfunction()

file(GLOB_RECURSE MSW_WEB_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/web/*)
set(MSW_PAGE_DIR ${CMAKE_BINARY_DIR}/web)
set(MSW_PAGE_NAMES index.html style.css config.js protocol.js vault.js gifs.js app.js)
list(TRANSFORM MSW_PAGE_NAMES PREPEND ${MSW_PAGE_DIR}/ OUTPUT_VARIABLE MSW_PAGE_FILES)

set(msw_gen_args ${MSW_PAGE_DIR} --server ${MOSSWIRE_SERVER} --updates ${MOSSWIRE_UPDATES})
set(msw_gen_deps ${MSW_WEB_SOURCES} ${CMAKE_SOURCE_DIR}/scripts/gen-web.js)
if(EXISTS ${MOSSWIRE_OWNER_CERT_FILE})
  list(APPEND msw_gen_args --owner-cert ${MOSSWIRE_OWNER_CERT_FILE})
  list(APPEND msw_gen_deps ${MOSSWIRE_OWNER_CERT_FILE})
endif()
# A stamp stands for the seven files: gen-web.js leaves unchanged files untouched.
add_custom_command(
  OUTPUT ${MSW_PAGE_DIR}/.stamp
  BYPRODUCTS ${MSW_PAGE_FILES}
  COMMAND ${NODE_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/gen-web.js ${msw_gen_args}
  COMMAND ${CMAKE_COMMAND} -E touch ${MSW_PAGE_DIR}/.stamp
  DEPENDS ${msw_gen_deps}
  COMMENT "Laying out the page files"
  VERBATIM)

msw_embed_page_files(${CMAKE_BINARY_DIR}/page_assets.cpp ${MSW_PAGE_DIR} ${MSW_PAGE_DIR}/.stamp)
# Targets in other folders that compile page_assets.cpp depend on this one: Makefile
# generators only know how to make a generated file inside the folder that declares it,
# and one owner keeps two parallel jobs from writing it at once.
add_custom_target(msw_page_assets DEPENDS ${CMAKE_BINARY_DIR}/page_assets.cpp)

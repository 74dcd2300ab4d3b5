# The owner's signing key, for the native self-update: the key of the owner certificate the
# build takes (MOSSWIRE_OWNER_CERT_FILE, whose m.sig it is), so that the program checks
# releases against the same owner its page trusts. Empty when the file is missing: such a
# program never installs an update by itself. A change of the file reconfigures the build.
function(msw_owner_key_of out file)
  set(key "")
  if(EXISTS "${file}")
    file(READ "${file}" text)
    string(JSON key ERROR_VARIABLE failed GET "${text}" m sig)
    string(LENGTH "${key}" length)
    if(failed OR NOT key MATCHES "^B[A-Za-z0-9+/]+=$" OR NOT length EQUAL 88)
      message(FATAL_ERROR "${file} holds no owner certificate: its m.sig must be the owner's key "
                          "(88 Base64 characters starting with B)")
    endif()
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${file}")
  endif()
  set(${out} "${key}" PARENT_SCOPE)
endfunction()

msw_owner_key_of(MSW_OWNER_KEY "${MOSSWIRE_OWNER_CERT_FILE}")

# The tests' own owner (tests/keys/release-owner.json): the test programs trust its key and
# the tests sign their stand-in releases with it.
if(MOSSWIRE_TESTS)
  set(MSW_TEST_OWNER_FILE ${CMAKE_SOURCE_DIR}/tests/keys/release-owner.json)
  file(READ ${MSW_TEST_OWNER_FILE} msw_test_owner)
  string(JSON MSW_TEST_OWNER_KEY GET "${msw_test_owner}" sigPub)
endif()

# msw_signed_release_header(TARGET): generated/signed_release.h, a release signed with the
# tests' owner key for tests that can't run Node.js themselves, made before TARGET builds.
function(msw_signed_release_header target)
  set(header ${CMAKE_BINARY_DIR}/generated/signed_release.h)
  if(NOT TARGET msw_signed_release)
    add_custom_command(
      OUTPUT ${header}
      COMMAND ${NODE_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/keys/signed_release.js ${header}
      DEPENDS ${CMAKE_SOURCE_DIR}/tests/keys/signed_release.js ${MSW_TEST_OWNER_FILE}
              ${CMAKE_SOURCE_DIR}/tools/owner-lib.js ${CMAKE_SOURCE_DIR}/web/protocol.js
      COMMENT "Signing the tests' stand-in release"
      VERBATIM)
    add_custom_target(msw_signed_release DEPENDS ${header})
  endif()
  add_dependencies(${target} msw_signed_release)
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated)
endfunction()

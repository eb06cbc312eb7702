# Helpers shared by every folder: warnings, sanitizers, tests and the
# Info.plist each executable carries.

set(BCN_WARNINGS -Wall -Wextra -Werror)
# GCC 12 at -O2/-O3 reports overlapping copies inside std::string that
# cannot happen (GCC bug 105651); the check is sound again from GCC 13.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND BCN_WARNINGS -Wno-restrict)
endif()
set(BCN_SANITIZER_FLAGS
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
# Libraries in a fuzzing tree: coverage for libFuzzer without its main().
# The tree is built by clang over GCC 12's libstdc++, whose std::stable_sort
# and std::stable_partition call the deprecated get_temporary_buffer inside
# the library's own headers; clang 19 reports that against every caller.
# The GCC builds keep the warning for our code.
set(BCN_FUZZ_LIBRARY_FLAGS
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g
    -Wno-deprecated-declarations)

# Applies the house flags to one of our own targets.
function(bcn_target_defaults target)
  target_compile_options(${target} PRIVATE ${BCN_WARNINGS})
  # In a unit the including file is the main file, so GCC takes a class
  # defined in one of our .cc files for one defined in a header and warns
  # about its members of file-local types. Each .cc still lands in one unit
  # only: there is no second definition to disagree with.
  set_property(TARGET ${target} PROPERTY UNITY_BUILD_CODE_BEFORE_INCLUDE
    "#if defined(__GNUC__) && !defined(__clang__)\n#pragma GCC diagnostic ignored \"-Wsubobject-linkage\"\n#endif")
  if(BCN_FUZZ)
    target_compile_options(${target} PRIVATE ${BCN_FUZZ_LIBRARY_FLAGS})
    target_link_options(${target} PRIVATE ${BCN_FUZZ_LIBRARY_FLAGS})
  elseif(BCN_SANITIZE)
    target_compile_options(${target} PRIVATE ${BCN_SANITIZER_FLAGS})
    target_link_options(${target} PRIVATE ${BCN_SANITIZER_FLAGS})
  endif()
endfunction()

# bcn_library(name SOURCES ... [DEPS ...])
# One static library per folder; headers are included as "folder/file.h".
function(bcn_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  bcn_target_defaults(${name})
endfunction()

# bcn_library_part(target): marks a static library as a piece of the shared
# libnetcore.so. Position-independent, and every name hidden unless its
# header marks it NETCORE_EXPORT (netcore/export.h), so the shared library
# exports the public API and nothing else. Programs and tests that link the
# piece statically are unaffected.
function(bcn_library_part target)
  set_target_properties(${target} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# bcn_test_unity(target): a test executable's sources make one unit. The
# files of a suite share GoogleTest's and Qt's templates, which then compile
# once; shared test helpers go into a testing/ header.
function(bcn_test_unity target)
  set_property(TARGET ${target} PROPERTY UNITY_BUILD_BATCH_SIZE 0)
endfunction()

# bcn_add_test_headers(): GoogleTest's and GoogleMock's headers, compiled
# once into a precompiled header that every suite made by bcn_test reuses
# (they cost several seconds in each suite's unit with the sanitizers on).
# GCC refuses a precompiled header made with other code-generation flags,
# and Qt's targets ask for -fPIC: a suite that links Qt compiles the
# headers itself (bcn_test sees Qt among its DEPS; a suite that gets Qt
# through one of our libraries must name Qt in its DEPS too).
function(bcn_add_test_headers)
  add_library(bcn_test_headers OBJECT "${PROJECT_SOURCE_DIR}/cmake/test_headers.cc")
  target_link_libraries(bcn_test_headers PRIVATE GTest::gtest GTest::gmock)
  bcn_target_defaults(bcn_test_headers)
  target_precompile_headers(bcn_test_headers PRIVATE <gtest/gtest.h> <gmock/gmock.h>)
endfunction()

# bcn_test(name SOURCES ... [DEPS ...] [INFO_PLIST <args for bcn_embed_info_plist>])
# A GoogleTest executable whose cases are registered with CTest one by one,
# so each case runs in its own process.
function(bcn_test name)
  if(NOT BCN_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;INFO_PLIST" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  bcn_test_unity(${name})
  bcn_target_defaults(${name})
  if(NOT ARG_DEPS MATCHES "(^|;)Qt6::")
    target_precompile_headers(${name} REUSE_FROM bcn_test_headers)
  endif()
  # Every program carries an Info.plist; a suite that does not read its own
  # gets one named after it, so that whatever the libraries' units bring
  # along links.
  if(ARG_INFO_PLIST)
    bcn_embed_info_plist(${name} ${ARG_INFO_PLIST})
  else()
    bcn_embed_info_plist(${name} IDENTIFIER com.quillbank.Beaconbar.${name})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# bcn_embed_info_plist(target IDENTIFIER id [VERSION v] [TEAM_ID t])
# Generates the program's Info.plist and compiles it into the executable,
# where MainBundle finds it. An empty VERSION or TEAM_ID leaves that key out.
function(bcn_embed_info_plist target)
  cmake_parse_arguments(ARG "" "IDENTIFIER;VERSION;TEAM_ID" "" ${ARGN})
  set(entries "  <key>CFBundleIdentifier</key>\n  <string>${ARG_IDENTIFIER}</string>\n")
  string(APPEND entries "  <key>LSMinimumSystemVersion</key>\n  <string>14.0</string>\n")
  if(ARG_VERSION)
    string(APPEND entries "  <key>CFBundleShortVersionString</key>\n  <string>${ARG_VERSION}</string>\n")
  endif()
  if(ARG_TEAM_ID)
    string(APPEND entries "  <key>BCNTeamID</key>\n  <string>${ARG_TEAM_ID}</string>\n")
  endif()
  set(plist "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n${entries}</dict>\n</plist>\n")
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_info")
  file(WRITE "${dir}/Info.plist" "${plist}")
  file(CONFIGURE OUTPUT "${dir}/info_plist.cc" CONTENT
"// Generated from ${dir}/Info.plist; do not edit.
#include <cstddef>
extern \"C\" const char bcn_embedded_info_plist[] = R\"bcnplist(${plist})bcnplist\";
extern \"C\" const std::size_t bcn_embedded_info_plist_size = sizeof(bcn_embedded_info_plist) - 1;
" @ONLY)
  target_sources(${target} PRIVATE "${dir}/info_plist.cc")
endfunction()

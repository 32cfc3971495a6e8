# SPDX-License-Identifier: Apache-2.0
# GoogleTest for both builds: Debian's packaged library on Linux, and on the
# Windows cross-build the same sources (Debian's googletest package) compiled
# with the mingw-w64 toolchain, since no prebuilt Windows library exists.
include(GoogleTest)

if(WIN32)
  set(EMB_GOOGLETEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${EMB_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()

# emb_add_test_suite(<name> SOURCES ... LIBS ...): one test executable whose
# cases ctest lists one by one. Discovery runs when ctest starts, so the
# Windows build discovers through Wine only once the prefix exists.
function(emb_add_test_suite name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} emb_test_support GTest::gmock GTest::gtest_main)
  emb_set_warnings(${name})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 300
               ENVIRONMENT "EMB_TEST_DATA_DIR=${PROJECT_SOURCE_DIR}/tests/data")
endfunction()

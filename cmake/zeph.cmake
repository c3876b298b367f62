# zeph_program(name SOURCES ... [LIBS ...]): a program of the toolchain, built
# into bin/ beside the installed data.
function(zeph_program name)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${P_SOURCES})
  target_link_libraries(${name} PRIVATE ${P_LIBS} zeph_common)
  # The driver starts eight programs for one file: linked with the C++
  # run-time library inside, each starts as fast as a C program. The
  # sanitizers need the shared run-time, so their builds keep it.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT ZEPH_SANITIZE AND NOT ZEPH_FUZZ)
    target_link_options(${name} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
  add_dependencies(${name} zeph_data)
  install(TARGETS ${name} DESTINATION bin)
  # The installer target packs every program.
  set_property(GLOBAL APPEND PROPERTY ZEPH_PROGRAMS ${name})
endfunction()

# zeph_test(name SOURCES ... [LIBS ...]): a GoogleTest executable run by ctest.
# Tests know the build tree (an installation) and the source tree.
function(zeph_test name)
  if(NOT ZEPH_TESTS)
    # A placeholder never built, so that the folders' lines about their
    # test programs still configure.
    add_executable(${name} EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/cmake/no_tests.cpp)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${CMAKE_SOURCE_DIR}/cmake/test_main.cpp)
  # Each test process runs in a scratch directory of its own.
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest)
  # tool_run.h: running programs, fixtures, gpsim, symbol files
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/common/tests)
  target_compile_definitions(${name} PRIVATE
    ZEPH_BUILD_DIR="${CMAKE_BINARY_DIR}" ZEPH_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_dependencies(${name} zeph_data)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests
    PROPERTIES ENVIRONMENT "ZEPH_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()

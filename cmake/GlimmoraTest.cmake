# One test executable per module, GoogleTest, discovered by ctest.
include(GoogleTest)

# Every test executable with tests labelled threads: what the ThreadSanitizer
# build (linux-tsan) builds, and nothing else.
add_custom_target(glimmora_threads_tests)

# Test code is built for the speed of building it: unoptimised, with line
# tables for a debugger. The code under test keeps its build type's flags.
function(glimmora_test_code_options target)
  if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
    target_compile_options(${target} PRIVATE -O0 -g1)
  endif()
endfunction()

function(glimmora_use_gtest)
  if(TARGET GTest::gtest_main)
    return()
  endif()
  if(NOT WIN32)
    find_package(GTest QUIET)
  endif()
  if(NOT TARGET GTest::gtest_main)
    # Debian ships the sources; they build with the mingw -posix compilers too.
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    foreach(t gtest gtest_main gmock gmock_main)
      if(TARGET ${t} AND NOT TARGET GTest::${t})
        add_library(GTest::${t} ALIAS ${t})
        glimmora_test_code_options(${t})
      endif()
    endforeach()
  endif()
endfunction()

# glimmora_add_test(NAME SOURCES... [LIBS libs...] [LABELS labels...]
#                   [FILTER pattern] [PROPERTIES ...])
# FILTER (a --gtest_filter pattern) leaves out of the ordinary run the tests
# that only mean something in a run of glimmora_add_test_run below.
function(glimmora_add_test name)
  cmake_parse_arguments(ARG "" "FILTER" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
  glimmora_use_gtest()
  add_executable(${name} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  glimmora_test_code_options(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  # Tests reach every layer.
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE
    GLIMMORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    GLIMMORA_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  set(filter)
  if(ARG_FILTER)
    set(filter TEST_FILTER ${ARG_FILTER})
  endif()
  gtest_discover_tests(${name} ${filter}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${ARG_PROPERTIES})
  # Labels are set once the tests are known: gtest_discover_tests would hand
  # a list of them on as separate words.
  set(labels ${ARG_LABELS})
  if("threads" IN_LIST labels)
    add_dependencies(glimmora_threads_tests ${name})
  endif()
  if(WIN32)
    list(APPEND labels windows)
  endif()
  if(labels)
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
    file(WRITE ${script}
      "foreach(test IN LISTS ${name}_TESTS)\n"
      "  set_tests_properties(\"\${test}\" PROPERTIES LABELS \"${labels}\")\n"
      "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
  endif()
endfunction()

# glimmora_add_test_run(NAME RUN [FILTER pattern] [ENVIRONMENT VAR=value...] [LABELS ...])
# Runs a test executable made by glimmora_add_test once more as the single ctest
# test NAME.RUN, for instance under another language or time zone. (The
# discovered tests cannot carry an environment of more than one variable.)
function(glimmora_add_test_run name run)
  cmake_parse_arguments(ARG "" "FILTER" "ENVIRONMENT;LABELS" ${ARGN})
  set(args)
  if(ARG_FILTER)
    set(args --gtest_filter=${ARG_FILTER})
  endif()
  add_test(NAME ${name}.${run} COMMAND ${name} ${args})
  set_tests_properties(${name}.${run} PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}")
  set(labels ${ARG_LABELS})
  if("threads" IN_LIST labels)
    add_dependencies(glimmora_threads_tests ${name})
  endif()
  if(WIN32)
    list(APPEND labels windows)
  endif()
  if(labels)
    set_tests_properties(${name}.${run} PROPERTIES LABELS "${labels}")
  endif()
endfunction()

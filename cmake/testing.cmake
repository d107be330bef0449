# Test executables. In the cross build CMAKE_CROSSCOMPILING_EMULATOR runs them
# under Wine, so ctest and gtest discovery treat them like native tests.
include(CTest)
include(GoogleTest)

if(CAMTOVRA_WINDOWS)
  set(CAMTOVRA_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
    @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
  # Every test program marks that it reached main; wine-run.sh starts one that
  # Wine failed to start again.
  target_sources(gtest_main INTERFACE ${PROJECT_SOURCE_DIR}/testing/test_support/started_marker.cpp)
endif()

# camtovra_discover_gtests(<target> TIMEOUT <seconds> [TEST_FILTER <filter>]
#                          [RESOURCE_LOCK <names...>] [ENVIRONMENT <var=value...>])
# Makes each case of the test program <target> a test of its own, discovered
# when ctest runs. The list properties are set by an include file of their
# own, after discovery: gtest_discover_tests expands its PROPERTIES twice and
# so splits a list value. ctest then got RESOURCE_LOCK "a;b" as
# RESOURCE_LOCK a, the other names dropped without a word, and the pairs after
# it shifted (a TIMEOUT given later was lost as well).
function(camtovra_discover_gtests target)
  cmake_parse_arguments(D "" "TIMEOUT;TEST_FILTER" "RESOURCE_LOCK;ENVIRONMENT" ${ARGN})
  set(_filter "")
  if(DEFINED D_TEST_FILTER)
    set(_filter TEST_FILTER "${D_TEST_FILTER}")
  endif()
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 ${_filter}
    TEST_LIST ${target}_TESTS PROPERTIES TIMEOUT ${D_TIMEOUT})
  set(_properties "")
  foreach(_name RESOURCE_LOCK ENVIRONMENT)
    if(D_${_name})
      string(APPEND _properties " ${_name} \"${D_${_name}}\"")
    endif()
  endforeach()
  if(_properties)
    set(_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_list_properties.cmake)
    file(WRITE ${_file}
      "if(${target}_TESTS)\n"
      "  set_tests_properties(\${${target}_TESTS} PROPERTIES${_properties})\n"
      "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_file})
  endif()
endfunction()

# camtovra_add_gtest(<name> SOURCES <files...> LIBS <targets...>)
function(camtovra_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  set(_environment "")
  if(NOT CAMTOVRA_WINDOWS)
    set(_environment ENVIRONMENT ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1)
  endif()
  camtovra_discover_gtests(${name} TIMEOUT 120 ${_environment})
endfunction()

# camtovra_add_output_test(<name> PATTERN <regex> COMMAND <target> <args...>)
# A Windows test that passes when its program exits with 0 and its output
# matches PATTERN (a CMake regular expression). Both are checked: ctest's
# PASS_REGULAR_EXPRESSION alone would pass a program that crashed after
# printing what the pattern looks for.
function(camtovra_add_output_test name)
  cmake_parse_arguments(T "" "PATTERN" "COMMAND" ${ARGN})
  list(POP_FRONT T_COMMAND _target)
  set(_pattern_file ${CMAKE_CURRENT_BINARY_DIR}/${name}.pattern)
  file(WRITE ${_pattern_file} "${T_PATTERN}")
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -DPATTERN_FILE=${_pattern_file} -P ${PROJECT_SOURCE_DIR}/cmake/expect-output.cmake
            -- ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${_target}> ${T_COMMAND})
endfunction()

# camtovra_add_fuzzer(<name> SOURCES <files...> LIBS <targets...> CORPUS <dir>)
# libFuzzer target of the native clang build. The test command runs it for a
# bounded time over the corpus kept in the repo (read only; new inputs go to a
# folder of the build).
set(CAMTOVRA_FUZZ_SECONDS 10 CACHE STRING "Seconds each fuzzer runs in the test command")
set(CAMTOVRA_FUZZING OFF)
if(NOT CAMTOVRA_WINDOWS AND CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND CAMTOVRA_SANITIZE)
  set(CAMTOVRA_FUZZING ON)
  # A fuzzer is guided by the coverage of the code it calls, so every target of
  # this tree carries the coverage instrumentation (the harness alone would see
  # only itself). Set here for the whole tree rather than per library, so that a
  # library a new fuzzer links cannot be left out. Without libFuzzer in the
  # link (unit tests) the sanitizer runtime supplies no-op coverage callbacks.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
function(camtovra_add_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(NOT CAMTOVRA_FUZZING)
    return()
  endif()
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(_work ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  file(MAKE_DIRECTORY ${_work})
  add_test(NAME fuzz.${name}
    COMMAND ${name} -max_total_time=${CAMTOVRA_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
            ${_work} ${F_CORPUS})
  set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 300
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")
endfunction()

# camtovra_add_benchmark(<name> SOURCES <files...> LIBS <targets...>)
# Google Benchmark program of the native optimised build (build/bench, no
# sanitizers). The test command builds it and smoke-runs it once; run it by
# hand for the figures.
function(camtovra_add_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  if(CAMTOVRA_WINDOWS OR CAMTOVRA_SANITIZE OR NOT TARGET benchmark::benchmark)
    return()
  endif()
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
  add_dependencies(camtovra_benchmarks ${name})
  add_test(NAME bench.${name} COMMAND ${name} --benchmark_min_time=0.001)
  set_tests_properties(bench.${name} PROPERTIES LABELS benchmark TIMEOUT 600)
endfunction()

# camtovra_add_wine_benchmark(<name> SOURCES <files...> LIBS <targets...> SMOKE_ARGS <args...>)
# Google Benchmark program of the Windows build, run under Wine. The test
# command smoke-runs it once with SMOKE_ARGS; run it by hand for the figures.
function(camtovra_add_wine_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS;SMOKE_ARGS" ${ARGN})
  if(NOT CAMTOVRA_WINDOWS)
    return()
  endif()
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
  add_test(NAME bench.${name} COMMAND ${name} ${B_SMOKE_ARGS})
  set_tests_properties(bench.${name} PROPERTIES LABELS benchmark TIMEOUT 600)
endfunction()

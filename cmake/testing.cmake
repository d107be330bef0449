# Test executables. In the cross build CMAKE_CROSSCOMPILING_EMULATOR runs them
# under Wine, so ctest and gtest discovery treat them like native tests.
include(CTest)
include(GoogleTest)

if(CAMTOVRA_WINDOWS)
  set(CAMTOVRA_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
    @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
endif()

# camtovra_add_gtest(<name> SOURCES <files...> LIBS <targets...>)
function(camtovra_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  set(_props "")
  if(NOT CAMTOVRA_WINDOWS)
    set(_props ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ${_props} TIMEOUT 120)
endfunction()

# Third-party libraries. Nothing is copied into the tree: the native build uses
# Debian's -dev packages, the cross build the mingw builds that scripts/setup.sh
# makes from Debian's source packages, plus header-only libraries staged below.

if(CAMTOVRA_WINDOWS)
  # /usr/include must not reach the cross compiler (it shadows mingw's C runtime
  # headers), so the header-only libraries are linked into a private folder.
  set(_staged ${CMAKE_BINARY_DIR}/staged-include)
  file(MAKE_DIRECTORY ${_staged})
  foreach(_dir fmt gsl boost)
    if(NOT EXISTS ${_staged}/${_dir})
      file(CREATE_LINK /usr/include/${_dir} ${_staged}/${_dir} SYMBOLIC)
    endif()
  endforeach()
  add_library(camtovra_header_libs INTERFACE)
  target_include_directories(camtovra_header_libs SYSTEM INTERFACE ${_staged})
  target_compile_definitions(camtovra_header_libs INTERFACE FMT_HEADER_ONLY)

  find_library(PUGIXML_LIB pugixml REQUIRED)
  find_path(PUGIXML_INCLUDE pugixml.hpp REQUIRED)
  add_library(pugixml::pugixml STATIC IMPORTED)
  set_target_properties(pugixml::pugixml PROPERTIES
    IMPORTED_LOCATION ${PUGIXML_LIB} INTERFACE_INCLUDE_DIRECTORIES ${PUGIXML_INCLUDE})

  set(ZLIB_USE_STATIC_LIBS ON)
  find_package(ZLIB REQUIRED)
  find_package(libzip REQUIRED)
  # Google Benchmark for the benchmarks that run under Wine.
  find_package(benchmark REQUIRED)

  # googletest from Debian's sources, built with the cross compiler.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
    add_library(GTest::gmock ALIAS gmock)
  endif()
else()
  add_library(camtovra_header_libs INTERFACE)
  find_package(fmt REQUIRED)
  target_link_libraries(camtovra_header_libs INTERFACE fmt::fmt-header-only)
  find_package(pugixml REQUIRED)
  # Linked statically, as the Windows build links it: building a document calls
  # the tree's small accessors several times for every element, and through a
  # shared library's call stubs that costs a tenth of the build.
  if(TARGET pugixml::static)
    set_target_properties(pugixml::pugixml PROPERTIES INTERFACE_LINK_LIBRARIES pugixml::static)
  endif()
  find_package(GTest REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
  add_library(libzip::zip ALIAS PkgConfig::LIBZIP)
  find_package(benchmark QUIET)
endif()

# libpng and zlib: Debian's packages natively; for MinGW, zlib from libz-mingw-w64-dev and
# libpng cross-built from Debian's source by scripts/setup.sh into .deps/<triplet>.
if(VANTREL_WINDOWS)
  set(VANTREL_DEPS_DIR "${CMAKE_SOURCE_DIR}/.deps" CACHE PATH "Cross-built dependencies")
  set(_triplet ${TOOLCHAIN_PREFIX})
  set(_png_lib "${VANTREL_DEPS_DIR}/${_triplet}/lib/libpng16.a")
  if(NOT EXISTS "${_png_lib}")
    message(FATAL_ERROR "libpng for ${_triplet} is missing: run scripts/setup.sh")
  endif()
  add_library(ZLIB::ZLIB STATIC IMPORTED)
  set_target_properties(ZLIB::ZLIB PROPERTIES IMPORTED_LOCATION "/usr/${_triplet}/lib/libz.a")
  add_library(PNG::PNG STATIC IMPORTED)
  set_target_properties(PNG::PNG PROPERTIES
    IMPORTED_LOCATION "${_png_lib}"
    INTERFACE_INCLUDE_DIRECTORIES "${VANTREL_DEPS_DIR}/${_triplet}/include"
    INTERFACE_LINK_LIBRARIES ZLIB::ZLIB)
else()
  find_package(PNG REQUIRED)
  find_package(benchmark QUIET)
endif()

include(CTest)
if(BUILD_TESTING)
  # GoogleTest from Debian's sources, built for each target.
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

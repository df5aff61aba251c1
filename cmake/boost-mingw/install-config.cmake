# Installs the "Boost" package (BoostConfig.cmake and its version file) into
# a Boost for MinGW-w64 that Boost's CMake build has installed.
#   cmake -DPREFIX=<install prefix> -DBOOST_VERSION=1.81.0 -P install-config.cmake
cmake_minimum_required(VERSION 3.20)
include(CMakePackageConfigHelpers)

string(REGEX MATCH "^([0-9]+)\\.([0-9]+)" _ "${BOOST_VERSION}")
set(BOOST_INCLUDE_SUBDIR "include/boost-${CMAKE_MATCH_1}_${CMAKE_MATCH_2}")
if(NOT IS_DIRECTORY "${PREFIX}/${BOOST_INCLUDE_SUBDIR}/boost")
  message(FATAL_ERROR "No header tree at ${PREFIX}/${BOOST_INCLUDE_SUBDIR}")
endif()

set(_dir "${PREFIX}/lib/cmake/Boost-${BOOST_VERSION}")
configure_file("${CMAKE_CURRENT_LIST_DIR}/BoostConfig.cmake.in" "${_dir}/BoostConfig.cmake" @ONLY)
# The libraries are 64-bit: the version file refuses a 32-bit project.
set(CMAKE_SIZEOF_VOID_P 8)
write_basic_package_version_file("${_dir}/BoostConfigVersion.cmake"
  VERSION "${BOOST_VERSION}" COMPATIBILITY SameMinorVersion)

# Third-party libraries: Boost (program_options, serialization, filesystem,
# thread and header-only parts), utfcpp, and on the host nlohmann/json and
# GoogleTest. Everything the system's code needs from Boost comes through the
# one interface target sablewick_boost.
add_library(sablewick_boost INTERFACE)

if(SABLEWICK_HOST OR MSVC)
  # The Windows build takes exactly the Boost that vcpkg.json pins: the
  # settings archive's library version and the SHA-1 digest's shape come from
  # it (the agent's reader refuses the archives of Boost 1.84 and later).
  # Boost's version file knows no ranges, and "1.81" is never exactly 1.81.0.
  if(MSVC)
    set(_boost_version 1.81.0 EXACT)
  else()
    set(_boost_version 1.81)
  endif()
  find_package(Boost ${_boost_version} REQUIRED CONFIG COMPONENTS program_options serialization filesystem thread)
  target_link_libraries(sablewick_boost INTERFACE
    Boost::headers Boost::program_options Boost::serialization Boost::filesystem Boost::thread)
  find_path(UTFCPP_INCLUDE_DIR utf8.h PATH_SUFFIXES utf8cpp REQUIRED)
  target_include_directories(sablewick_boost INTERFACE ${UTFCPP_INCLUDE_DIR})
  if(SABLEWICK_HOST)
    find_package(nlohmann_json 3 REQUIRED)
    find_package(Threads REQUIRED)
    target_link_libraries(sablewick_boost INTERFACE Threads::Threads)
  endif()
  if(MSVC)
    target_compile_definitions(sablewick_boost INTERFACE BOOST_ALL_NO_LIB)
  endif()
else()
  # MinGW cross build, against the Boost for MinGW that
  # scripts/build-boost-mingw.sh makes from Debian's source package of the
  # same version: name its prefix with Boost_ROOT or CMAKE_PREFIX_PATH. The
  # toolchain confines every search to the MinGW runtime's folder; the
  # prefixes named here are made roots of their own so that the search may
  # enter them, and only them.
  list(APPEND CMAKE_FIND_ROOT_PATH ${Boost_ROOT} ${CMAKE_PREFIX_PATH})
  find_package(Boost 1.81.0 EXACT CONFIG COMPONENTS program_options serialization filesystem thread)
  if(NOT Boost_FOUND)
    message(FATAL_ERROR
      "The Windows build needs Boost 1.81.0 built for MinGW-w64. Build it with "
      "'bash scripts/build-boost-mingw.sh' (it prints its prefix) and configure with "
      "-DBoost_ROOT=<that prefix>.")
  endif()
  target_link_libraries(sablewick_boost INTERFACE
    Boost::headers Boost::program_options Boost::serialization Boost::filesystem Boost::thread)
  # utfcpp is header-only and the same for every target: Debian's headers,
  # through a folder of symlinks (never /usr/include itself: that holds
  # glibc's headers, which must not shadow the MinGW runtime's).
  set(_shim ${CMAKE_BINARY_DIR}/mingw-include)
  file(MAKE_DIRECTORY ${_shim})
  file(CREATE_LINK /usr/include/utf8cpp/utf8.h ${_shim}/utf8.h SYMBOLIC)
  file(CREATE_LINK /usr/include/utf8cpp/utf8 ${_shim}/utf8 SYMBOLIC)
  target_include_directories(sablewick_boost SYSTEM INTERFACE ${_shim})
endif()

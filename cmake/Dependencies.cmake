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
  # MinGW cross build. Debian has no MinGW build of Boost, so the headers come
  # from a folder of symlinks (never /usr/include itself: that holds glibc's
  # headers, which must not shadow the MinGW runtime's). The libraries are
  # linked only when the user names a Boost built for MinGW.
  set(SABLEWICK_MINGW_BOOST_ROOT "" CACHE PATH
      "A Boost built for x86_64-w64-mingw32 (include/ and lib/); empty compiles only")
  set(_shim ${CMAKE_BINARY_DIR}/mingw-include)
  file(MAKE_DIRECTORY ${_shim})
  if(SABLEWICK_MINGW_BOOST_ROOT)
    set(_boost_headers ${SABLEWICK_MINGW_BOOST_ROOT}/include/boost)
  else()
    set(_boost_headers /usr/include/boost)
  endif()
  file(CREATE_LINK ${_boost_headers} ${_shim}/boost SYMBOLIC)
  file(CREATE_LINK /usr/include/utf8cpp/utf8.h ${_shim}/utf8.h SYMBOLIC)
  file(CREATE_LINK /usr/include/utf8cpp/utf8 ${_shim}/utf8 SYMBOLIC)
  target_include_directories(sablewick_boost SYSTEM INTERFACE ${_shim})
  if(SABLEWICK_MINGW_BOOST_ROOT)
    foreach(_lib program_options serialization filesystem thread)
      file(GLOB _found "${SABLEWICK_MINGW_BOOST_ROOT}/lib/libboost_${_lib}*.a")
      if(NOT _found)
        message(FATAL_ERROR "No libboost_${_lib}*.a in ${SABLEWICK_MINGW_BOOST_ROOT}/lib")
      endif()
      list(GET _found 0 _first)
      target_link_libraries(sablewick_boost INTERFACE ${_first})
    endforeach()
  endif()
endif()

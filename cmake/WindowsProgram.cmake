# The Windows program SablewickAgentSetup.exe: a GUI program (no console)
# whose entry is wWinMain, linked from the system's libraries and the
# compiled resource script.
#
# sablewick_windows_compile compiles every translation unit of the product
# and the resource script without linking; it is what a MinGW build without a
# Boost for MinGW can do, and what CI checks.
add_custom_target(sablewick_windows_compile)
add_dependencies(sablewick_windows_compile
  kyv sablewick_util sablewick_util_tables sablewick_settings sablewick_setup sablewick_resources)

if(MSVC OR SABLEWICK_MINGW_BOOST_ROOT)
  add_executable(SablewickAgentSetup WIN32 $<TARGET_OBJECTS:sablewick_resources>)
  target_link_libraries(SablewickAgentSetup PRIVATE
    sablewick_setup sablewick_util_tables
    shell32 ole32 advapi32 user32 wtsapi32 userenv iphlpapi
    # Boost: Asio's sockets, Filesystem's random numbers
    ws2_32 mswsock bcrypt)
  # wWinMain lives in the static library sablewick_setup, and the reference
  # to it comes from the C runtime, which is searched last: name it up front
  # so the linker takes it from our library.
  if(MSVC)
    # The manifest comes from the resource script; a linker-made one would
    # be a second RT_MANIFEST 1.
    target_link_options(SablewickAgentSetup PRIVATE
      /ENTRY:wWinMainCRTStartup /INCLUDE:wWinMain /MANIFEST:NO)
  else()
    # -static: one self-contained executable, without the MinGW runtime DLLs
    # (libstdc++, libgcc, winpthread) beside it.
    target_link_options(SablewickAgentSetup PRIVATE
      -municode -Wl,--undefined=wWinMain -static)
  endif()
  set_target_properties(SablewickAgentSetup PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()

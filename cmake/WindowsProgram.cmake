# The Windows program SablewickAgentSetup.exe: a GUI program (no console)
# whose entry is wWinMain, linked from the system's libraries and the
# compiled resource script. The Windows system libraries are attached to the
# targets whose code calls them (CMakeLists.txt), so the link line names each
# after its callers.
add_executable(SablewickAgentSetup WIN32 $<TARGET_OBJECTS:sablewick_resources>)
target_link_libraries(SablewickAgentSetup PRIVATE sablewick_setup sablewick_util_tables)
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
  # (libstdc++, libgcc, winpthread) beside it; it imports system DLLs only.
  target_link_options(SablewickAgentSetup PRIVATE
    -municode -Wl,--undefined=wWinMain -static)
endif()
set_target_properties(SablewickAgentSetup PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

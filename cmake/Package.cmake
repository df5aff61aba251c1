# The Windows Installer package that both builds embed as resource "MSI" 102.
# SABLEWICK_MSI names a real package; left empty, the build makes a small
# genuine one with msitools' wixl from resources/package. Either way
# SABLEWICK_MSI_FILE is the file to embed and the target sablewick_package
# brings it up to date.
if(SABLEWICK_MSI)
  get_filename_component(SABLEWICK_MSI_FILE "${SABLEWICK_MSI}" ABSOLUTE)
  if(NOT EXISTS "${SABLEWICK_MSI_FILE}")
    message(FATAL_ERROR "SABLEWICK_MSI names a missing file: ${SABLEWICK_MSI_FILE}")
  endif()
  add_custom_target(sablewick_package)
else()
  find_program(SABLEWICK_WIXL wixl)
  if(NOT SABLEWICK_WIXL)
    message(FATAL_ERROR
      "wixl (package wixl of msitools) is needed to build the agent package; "
      "install it, or name a package with -DSABLEWICK_MSI=<file.msi>")
  endif()
  set(_pkg_src ${CMAKE_CURRENT_SOURCE_DIR}/resources/package)
  set(SABLEWICK_MSI_FILE ${CMAKE_BINARY_DIR}/package/SablewickRemote.msi)
  # wixl takes the files' Source paths relative to the .wxs.
  add_custom_command(
    OUTPUT ${SABLEWICK_MSI_FILE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/package
    COMMAND ${SABLEWICK_WIXL} -a x64 -o ${SABLEWICK_MSI_FILE} ${_pkg_src}/SablewickRemote.wxs
    DEPENDS ${_pkg_src}/SablewickRemote.wxs ${_pkg_src}/placeholder.exe
    COMMENT "Building the agent package with wixl"
    VERBATIM)
  add_custom_target(sablewick_package DEPENDS ${SABLEWICK_MSI_FILE})
endif()

# The .rc script takes the package's path from this header; forward slashes
# need no escaping in a resource script's string.
file(TO_CMAKE_PATH "${SABLEWICK_MSI_FILE}" _pkg_path)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/sablewick_package.h
  CONTENT "// Written by the build: the package the program carries.\n#define SABLEWICK_PACKAGE_FILE \"${_pkg_path}\"\n")

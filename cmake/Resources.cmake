# The program's resources, from one script: resources/SablewickAgentSetup.rc
# with the files it names and the package of Package.cmake.
#
# Windows: the script is compiled by windres or rc into the object library
# sablewick_resources, which the executable links.
#
# Host: windres compiles the same script into a .res file; the build tool
# res_embed turns its entries into winsim::program_resources(), a table whose
# bytes the assembler takes straight from the .res with .incbin. Types,
# identifiers, languages and contents (string blocks, version block, icons,
# manifest) are therefore those of the Windows build, and a package of tens of
# megabytes embeds in a fraction of a second.
set(_res_src ${CMAKE_CURRENT_SOURCE_DIR}/resources)
set(_res_gen ${CMAKE_BINARY_DIR}/generated)
set(_res_rc ${_res_src}/SablewickAgentSetup.rc)
set(_res_inputs
  ${_res_rc}
  ${_res_src}/resource.h
  ${_res_src}/SablewickAgentSetup.manifest
  ${_res_src}/SablewickAgentSetup.ico
  ${_res_src}/SablewickRemote.cfg
  ${_res_src}/SablewickRemote.dat
  ${_res_gen}/sablewick_package.h
  ${SABLEWICK_MSI_FILE})

if(SABLEWICK_HOST)
  find_program(SABLEWICK_WINDRES NAMES x86_64-w64-mingw32-windres)
  # windres preprocesses the script with a C preprocessor that knows the
  # resource headers (winresrc.h); the MinGW compiler's is that one.
  find_program(SABLEWICK_RC_PREPROCESSOR NAMES x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-gcc)
  if(NOT SABLEWICK_WINDRES OR NOT SABLEWICK_RC_PREPROCESSOR)
    message(FATAL_ERROR
      "The host build compiles the resource script with x86_64-w64-mingw32-windres and the "
      "MinGW-w64 preprocessor (packages binutils-mingw-w64-x86-64, gcc-mingw-w64-x86-64-posix)")
  endif()

  add_executable(res_embed ${_res_src}/host/res_embed.cpp)

  set(_res_file ${_res_gen}/SablewickAgentSetup.res)
  set(_res_table ${_res_gen}/program_resources.cpp)
  add_custom_command(
    OUTPUT ${_res_file}
    COMMAND ${SABLEWICK_WINDRES}
            --preprocessor=${SABLEWICK_RC_PREPROCESSOR}
            --preprocessor-arg=-E --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED
            -I ${_res_src} -I ${_res_gen}
            -i ${_res_rc} -O res -o ${_res_file}
    DEPENDS ${_res_inputs} sablewick_package
    COMMENT "Compiling the resource script for the host"
    VERBATIM)
  add_custom_command(
    OUTPUT ${_res_table}
    COMMAND res_embed ${_res_file} ${_res_table}
    DEPENDS res_embed ${_res_file}
    COMMENT "Generating the host's resource table"
    VERBATIM)
  # The table names the .res by offsets only; the object must follow the
  # bytes even when the offsets stay the same.
  set_source_files_properties(${_res_table} PROPERTIES OBJECT_DEPENDS ${_res_file})

  add_library(sablewick_resources STATIC ${_res_table})
  target_include_directories(sablewick_resources PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  # The simulated machine loads the table into the program's module, so it
  # comes after winsim on every link line.
  target_link_libraries(winsim PUBLIC sablewick_resources)
else()
  enable_language(RC)
  add_library(sablewick_resources OBJECT ${_res_rc})
  target_include_directories(sablewick_resources PRIVATE ${_res_src} ${_res_gen})
  # The script's own #includes are scanned; the files it embeds are not.
  set_source_files_properties(${_res_rc} PROPERTIES OBJECT_DEPENDS "${_res_inputs}")
  add_dependencies(sablewick_resources sablewick_package)
endif()

# quorvel_add_version_block(target [URL url] [VERSION text])
#
# Gives `target` the program's version block. On Windows it is the executable's version
# resource, compiled by windres from a resource script (quorvel_add_version_resource). Elsewhere
# it is the ELF section ".qvversion": the block is
# made at build time by the versionblock tool (tools/versionblock), and a generated source file
# takes it in with the assembler's .incbin, so it is part of the linked executable and
# survives stripping (the section is allocated). URL defaults to the cache variable
# QUORVEL_ARCHIVE_URL (InternalName), VERSION to "1.0.0.0".
function(quorvel_add_version_block target)
  cmake_parse_arguments(V "" "URL;VERSION" "" ${ARGN})
  if(NOT V_URL)
    set(V_URL "${QUORVEL_ARCHIVE_URL}")
  endif()
  if(NOT V_VERSION)
    set(V_VERSION "1.0.0.0")
  endif()
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_version")
  if(WIN32)
    quorvel_add_version_resource(${target} "${dir}" "${V_URL}" "${V_VERSION}")
    return()
  endif()
  set(block "${dir}/version_block.bin")
  set(source "${dir}/version_block.cpp")
  add_custom_command(
    OUTPUT "${block}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
    COMMAND quorvel-versionblock "${block}" "${V_URL}" "${V_VERSION}"
    DEPENDS quorvel-versionblock
    COMMENT "Version block of ${target}"
    VERBATIM)
  file(CONFIGURE OUTPUT "${source}" CONTENT
"// Generated: the version block of @target@ in the section .qvversion.
__asm__(\".pushsection .qvversion,\\\"a\\\",@progbits\\n\"
        \".balign 4\\n\"
        \".incbin \\\"@block@\\\"\\n\"
        \".popsection\\n\");
" @ONLY)
  target_sources(${target} PRIVATE "${source}")
  set_source_files_properties("${source}" PROPERTIES OBJECT_DEPENDS "${block}")
  # The custom command's output needs a target in this directory that builds it first.
  add_custom_target(${target}_version_block DEPENDS "${block}")
  add_dependencies(${target} ${target}_version_block)
endfunction()

# quorvel_add_version_resource(target folder url version)
#
# The Windows form: a VERSIONINFO resource with the same values as the block that
# update::ProgramVersionInfo builds (the strings of table 040904E4, translation 0409/1252).
function(quorvel_add_version_resource target dir url version)
  set(numbers "1,0,0,0")
  if(version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    set(numbers "${CMAKE_MATCH_1},${CMAKE_MATCH_2},${CMAKE_MATCH_3},${CMAKE_MATCH_4}")
  endif()
  foreach(text url version)
    string(REPLACE "\"" "\"\"" ${text} "${${text}}")
  endforeach()
  file(CONFIGURE OUTPUT "${dir}/version.rc" CONTENT
"// Generated: the version resource of @target@.
1 VERSIONINFO
FILEVERSION @numbers@
PRODUCTVERSION @numbers@
FILEFLAGSMASK 0x3F
FILEFLAGS 0
FILEOS 0x4
FILETYPE 1
FILESUBTYPE 0
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"040904E4\"
    BEGIN
      VALUE \"CompanyName\", \"ProjectQuorvel developers\"
      VALUE \"FileDescription\", \"ProjectQuorvel\"
      VALUE \"FileVersion\", \"@version@\"
      VALUE \"InternalName\", \"@url@\"
      VALUE \"LegalCopyright\", \"Copyright (C) ProjectQuorvel developers\"
      VALUE \"OriginalFilename\", \"ProjectQuorvel.exe\"
      VALUE \"ProductName\", \"ProjectQuorvel\"
      VALUE \"ProductVersion\", \"@version@\"
      VALUE \"ProgramID\", \"ProjectQuorvel\"
    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x0409, 0x04E4
  END
END
" @ONLY)
  target_sources(${target} PRIVATE "${dir}/version.rc")
endfunction()

# quorvel_add_version_block(target [URL url] [VERSION text])
#
# Gives `target` the program's version block in the ELF section ".qvversion": the block is
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

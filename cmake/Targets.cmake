# Our libraries and their include roots.
#
# Every header is included by its path from the top of the repository ("jet/jet.h"), but a
# target sees only the folders of the libraries it links: each library exports an include root
# of its own, a folder in the build tree that holds a link to the library's source folder and
# nothing else. A file that includes a header of a library its target does not link fails to
# compile, so the dependency direction is checked by every build.

# quorvel_include_root(target PUBLIC|PRIVATE folder...)
# Gives `target` an include root holding the named source folders (paths from the top).
function(quorvel_include_root target scope)
  set(root "${CMAKE_BINARY_DIR}/include-roots/${target}")
  foreach(folder ${ARGN})
    get_filename_component(parent "${root}/${folder}" DIRECTORY)
    file(MAKE_DIRECTORY "${parent}")
    if(NOT EXISTS "${root}/${folder}")
      file(CREATE_LINK "${CMAKE_SOURCE_DIR}/${folder}" "${root}/${folder}" SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} ${scope} "${root}")
endfunction()

# quorvel_library(name source...)
# A static library of the listed sources whose include root is the folder of the calling
# CMakeLists.txt.
function(quorvel_library name)
  add_library(${name} STATIC ${ARGN})
  file(RELATIVE_PATH folder "${CMAKE_SOURCE_DIR}" "${CMAKE_CURRENT_SOURCE_DIR}")
  quorvel_include_root(${name} PUBLIC "${folder}")
endfunction()

# quorvel_forbid_links(prefix target...)
# Stops the configuration when one of the targets links a library whose name starts with
# `prefix`, directly or through another library of ours.
function(quorvel_forbid_links prefix)
  foreach(target ${ARGN})
    set(pending ${target})
    set(seen "")
    while(pending)
      list(POP_FRONT pending current)
      if(current IN_LIST seen OR NOT TARGET ${current})
        continue()
      endif()
      list(APPEND seen ${current})
      get_target_property(links ${current} LINK_LIBRARIES)
      get_target_property(interface_links ${current} INTERFACE_LINK_LIBRARIES)
      foreach(link IN LISTS links interface_links)
        string(FIND "${link}" "${prefix}" at)
        if(at EQUAL 0)
          message(FATAL_ERROR "${target} must not link ${link} (through ${current})")
        endif()
        if(TARGET ${link})
          get_target_property(imported ${link} IMPORTED)
          if(NOT imported)
            list(APPEND pending ${link})
          endif()
        endif()
      endforeach()
    endwhile()
  endforeach()
endfunction()

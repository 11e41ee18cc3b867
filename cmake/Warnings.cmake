# Warnings for our own code. Third-party headers (Qt, GoogleTest, SQLite, curl, Xlib) come in
# through imported targets, whose include folders CMake passes as system folders, so these
# flags judge only what we write.
#
# QUORVEL_WERROR turns every warning into an error; the test command builds with it on.
option(QUORVEL_WERROR "Treat compiler warnings as errors" OFF)

set(QUORVEL_WARNING_FLAGS -Wall -Wextra -Wshadow)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # Clang's -Wconversion is a different, wider family; the GCC build is the one that guards
  # these and the clang build (fuzz targets) keeps to the common flags.
  list(APPEND QUORVEL_WARNING_FLAGS -Wconversion -Wsign-conversion -Wold-style-cast)
endif()
if(QUORVEL_WERROR)
  list(APPEND QUORVEL_WARNING_FLAGS -Werror)
endif()
add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:${QUORVEL_WARNING_FLAGS}>")

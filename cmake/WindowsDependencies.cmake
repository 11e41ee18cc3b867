# What a cross build for Windows compiles itself because Debian has no MinGW build of it:
# SQLite from its amalgamation (QUORVEL_SQLITE_SOURCE, made by scripts/build-windows from
# Debian's source package) and GoogleTest from Debian's source copy in /usr/src.
set(QUORVEL_SQLITE_SOURCE "" CACHE PATH "Folder holding sqlite3.c and sqlite3.h")
if(NOT EXISTS "${QUORVEL_SQLITE_SOURCE}/sqlite3.c")
  message(FATAL_ERROR "QUORVEL_SQLITE_SOURCE must name a folder with sqlite3.c "
                      "(scripts/build-windows makes one)")
endif()
add_library(quorvel_sqlite3 STATIC "${QUORVEL_SQLITE_SOURCE}/sqlite3.c")
target_include_directories(quorvel_sqlite3 SYSTEM PUBLIC "${QUORVEL_SQLITE_SOURCE}")
target_compile_definitions(quorvel_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION
                          SQLITE_ENABLE_COLUMN_METADATA)
target_compile_options(quorvel_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS quorvel_sqlite3)
set(SQLite3_FOUND TRUE)

if(QUORVEL_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
  # GoogleTest's own build names some of its targets GTest::... already, depending on its
  # version; the names are made here only where it did not.
  foreach(target gtest gtest_main gmock)
    if(NOT TARGET GTest::${target})
      add_library(GTest::${target} ALIAS ${target})
    endif()
  endforeach()
  foreach(target gtest gtest_main gmock gmock_main)
    target_compile_options(${target} PRIVATE -w)
  endforeach()
  set(GTest_FOUND TRUE)
endif()

# Every program is one executable with no DLL beside it but Windows' own.
add_link_options(-static -static-libgcc -static-libstdc++)

# GCC 12 reports impossible overlaps (sizes near 2^63) inside libstdc++'s string copies when it
# inlines them at -O3; GCC 13 no longer does. The Linux build at -O2 does not see them.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-restrict>)
endif()

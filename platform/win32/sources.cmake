# The Windows implementation of the platform facilities, over the Win32 API itself.
set(QUORVEL_PLATFORM_OS_SOURCES
  atomic_file.cpp
  codepage.cpp
  dde.cpp
  file_info.cpp
  http.cpp
  process.cpp
  profile_file.cpp
  program_path.cpp
  text.cpp
  win32_error.cpp
  win32_error.h
  version_resource.cpp
  window.cpp)

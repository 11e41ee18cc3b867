# The POSIX implementation of the platform facilities (X11 for windows, Unix-domain sockets
# for DDE, /proc for processes).
set(QUORVEL_PLATFORM_OS_SOURCES
  atomic_file.cpp
  codepage.cpp
  dde.cpp
  dde_socket.cpp
  dde_socket.h
  file_info.cpp
  http.cpp
  process.cpp
  profile_file.cpp
  program_path.cpp
  text.cpp
  window.cpp)

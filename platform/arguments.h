// A command-line tool's arguments in UTF-8, the encoding the program's texts use inside.
// On POSIX they are the bytes the tool was given. On Windows the C runtime's argv has gone
// through the ANSI code page, which loses every character outside it and gives Japanese in
// code page 932 bytes; the arguments are split from the wide command line instead.
#ifndef QUORVEL_PLATFORM_ARGUMENTS_H_
#define QUORVEL_PLATFORM_ARGUMENTS_H_

#include <string>
#include <vector>

namespace platform {

// The arguments of this process, argv[0] first; `argc` and `argv` are main's own.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace platform

#endif  // QUORVEL_PLATFORM_ARGUMENTS_H_

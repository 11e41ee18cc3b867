// The running executable's full path and its directory.
#ifndef QUORVEL_PLATFORM_PROGRAM_PATH_H_
#define QUORVEL_PLATFORM_PROGRAM_PATH_H_

#include <string>

namespace platform {

// The full path of the running executable.
std::u16string ProgramPath();

// The program path up to and including its last separator.
std::u16string ProgramDirectory();

}  // namespace platform

#endif  // QUORVEL_PLATFORM_PROGRAM_PATH_H_

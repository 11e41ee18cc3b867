// Process routines of tclib: counting running programs by executable file name, and bringing
// a program's window to the front or else starting the program.
#ifndef QUORVEL_LIB_PROCESS_H_
#define QUORVEL_LIB_PROCESS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tclib {

// The number of processes whose executable file name equals `name`, letters a-z and A-Z
// compared without case and every other character exactly. 0 when there are none or no
// process list can be had. Never fails.
int32_t CountProcessesByName(std::u16string_view name);

// The same count over a given list of executable file names.
int32_t CountNamesMatching(std::u16string_view name, const std::vector<std::u16string>& names);

// When a top-level window titled `window_title` exists, restores its owner window if that is
// minimised and brings the owner to the front; nothing is started. Otherwise starts the
// command line `executable_path` + " " + `argument` (no quotes added). Raises platform::Error
// "プロセスの生成に失敗しました" when the process cannot be created.
void LaunchOrActivate(std::u16string_view executable_path, std::u16string_view argument,
                      std::u16string_view window_title);

// The command line LaunchOrActivate starts.
std::u16string LaunchCommandLine(std::u16string_view executable_path, std::u16string_view argument);

}  // namespace tclib

#endif  // QUORVEL_LIB_PROCESS_H_

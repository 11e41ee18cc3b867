// The writing commands of jetsql.
#ifndef QUORVEL_TOOLS_JETSQL_WRITE_COMMANDS_H_
#define QUORVEL_TOOLS_JETSQL_WRITE_COMMANDS_H_

#include <exception>
#include <string>

// The one-line Japanese message jetsql prints for an exception: the program's own errors
// (jet::Error) carry it; anything else the C++ library throws gets a Japanese sentence of
// ours instead of the library's English text.
std::string ErrorMessage(const std::exception& error);

// `jetsql --create FILE SQL…`: argv holds the arguments after "--create" (argv[0] = FILE,
// then the statements), argc their number. Returns the exit status.
int RunCreate(int argc, char** argv);

// `jetsql --check FILE`. Returns the exit status.
int RunCheck(const std::string& path);

#endif  // QUORVEL_TOOLS_JETSQL_WRITE_COMMANDS_H_

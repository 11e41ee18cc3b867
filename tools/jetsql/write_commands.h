// The writing commands of jetsql.
#ifndef QUORVEL_TOOLS_JETSQL_WRITE_COMMANDS_H_
#define QUORVEL_TOOLS_JETSQL_WRITE_COMMANDS_H_

#include <string>

// `jetsql --create FILE SQL…`: argv holds the arguments after "--create" (argv[0] = FILE,
// then the statements), argc their number. Returns the exit status.
int RunCreate(int argc, char** argv);

// `jetsql --check FILE`. Returns the exit status.
int RunCheck(const std::string& path);

#endif  // QUORVEL_TOOLS_JETSQL_WRITE_COMMANDS_H_

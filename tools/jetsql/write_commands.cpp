// Placeholder until the writing commands are built.
#include "tools/jetsql/write_commands.h"

#include <cstdio>

int RunCreate(int, char**) {
  std::fprintf(stderr, "jetsql: --create is not built yet\n");
  return 1;
}

int RunCheck(const std::string&) {
  std::fprintf(stderr, "jetsql: --check is not built yet\n");
  return 1;
}

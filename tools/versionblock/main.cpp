// quorvel-versionblock OUTPUT URL VERSION
//
// Writes the program's version block, with URL as InternalName and VERSION as the file and
// product version texts, to OUTPUT. The file is replaced only when its content changes, so
// that an unchanged block does not relink the program.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/utf.h"
#include "update/version_block.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: quorvel-versionblock OUTPUT URL VERSION\n");
    return 2;
  }
  std::vector<uint8_t> block;
  try {
    block = update::BuildVersionBlock(
        update::ProgramVersionInfo(base::FromUtf8(argv[2]), base::FromUtf8(argv[3])));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvel-versionblock: %s\n", e.what());
    return 1;
  }
  {
    std::ifstream old(argv[1], std::ios::binary);
    if (old) {
      std::vector<uint8_t> existing((std::istreambuf_iterator<char>(old)),
                                    std::istreambuf_iterator<char>());
      if (existing == block) return 0;
    }
  }
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(block.data()),
            static_cast<std::streamsize>(block.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "quorvel-versionblock: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

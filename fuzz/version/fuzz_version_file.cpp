// Executable files from the fuzzer. The first byte picks the key index; the rest is the file,
// held in an anonymous memory file. Reading must either give a text no longer than the block
// allows or raise the program's one version error; it must never read out of bounds.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/utf.h"
#include "platform/error.h"
#include "update/version_block.h"
#include "update/version_source.h"
#include "update/version_string.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t key = data[0] % 13;  // 12 is outside the table
  static const int fd = memfd_create("version", 0);
  if (fd < 0) return 0;
  if (ftruncate(fd, 0) != 0) return 0;
  if (pwrite(fd, data + 1, size - 1, 0) != static_cast<ssize_t>(size - 1)) return 0;
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  const std::vector<uint8_t> block = update::ReadVersionBlock(path);
  Check(block.size() <= update::kMaxVersionBlockSize);
  try {
    const std::u16string text = update::GetVersionString(base::FromUtf8(path), key);
    Check(text.size() * 2 <= block.size());
  } catch (const platform::Error& e) {
    Check(e.message() == update::kVersionInfoError);
  }
  // The parser on the raw bytes as a block, too.
  const std::span<const uint8_t> raw(data + 1, size - 1);
  for (std::u16string_view query :
       {u"\\", u"\\VarFileInfo\\Translation", u"\\StringFileInfo\\040904E4\\InternalName"}) {
    if (auto value = update::QueryVersionValue(raw, query)) {
      const size_t bytes = value->is_text ? value->length * 2 : value->length;
      Check(value->data >= raw.data() && value->data + bytes <= raw.data() + raw.size());
    }
  }
  return 0;
}

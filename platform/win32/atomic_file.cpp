// PENDING: replaced by the Win32 implementation.
#include "platform/atomic_file.h"

#include "platform/error.h"

namespace platform {
std::optional<std::string> ReadFileBytes(const std::filesystem::path&, size_t) { return {}; }
TemporaryBeside::TemporaryBeside(const std::filesystem::path& target, std::u16string_view kind,
                                 NewFileAccess access)
    : target_(target), kind_(kind), access_(access) {
  throw Error(u"未実装");
}
TemporaryBeside::~TemporaryBeside() = default;
void TemporaryBeside::Commit() {}
void TemporaryBeside::CommitAsNew() {}
int RemoveStaleTemporaries(const std::filesystem::path&) { return 0; }
void ReplaceFileAtomically(const std::filesystem::path&, std::string_view) {
  throw Error(u"未実装");
}
}  // namespace platform

// PENDING: replaced by the Toolhelp/CreateProcessW/WinExec implementation.
#include "platform/process.h"

#include "platform/error.h"

namespace platform {
std::optional<std::vector<ProcessEntry>> SnapshotProcesses() { return std::nullopt; }
std::optional<SplitCommandLine> SplitBareCommandLine(std::u16string_view) { return std::nullopt; }
int64_t CreateProcessFromCommandLine(std::u16string_view) {
  throw Error(u"プロセスの生成に失敗しました");
}
std::optional<std::filesystem::path> FindLoaderProgram(std::u16string_view,
                                                       const std::filesystem::path&,
                                                       const std::filesystem::path&,
                                                       const std::vector<std::filesystem::path>&) {
  return std::nullopt;
}
uint32_t WinExecLike(std::u16string_view, ShowState, int) { return kLoaderFailed; }
void NotifyStarterReady() {}
}  // namespace platform

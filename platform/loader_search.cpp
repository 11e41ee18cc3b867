#include "platform/loader_search.h"

#include "platform/path_separator.h"
#include "platform/process.h"
#include "platform/text.h"

namespace platform {

std::optional<std::filesystem::path> FindLoaderProgram(
    std::u16string_view word, const std::filesystem::path& program_directory,
    const std::filesystem::path& current_directory,
    const std::vector<std::filesystem::path>& search_folders) {
  if (word.empty()) return std::nullopt;
  const std::filesystem::path name = ToPath(word);
  // "/" separates folders on every system, and the system's own separator as well.
  if (word.find(u'/') != std::u16string_view::npos ||
      word.find(kPathSeparator) != std::u16string_view::npos) {
    return loader::MatchProgram(name.is_absolute() ? name : current_directory / name);
  }
  std::vector<std::filesystem::path> folders{program_directory, current_directory};
  folders.insert(folders.end(), search_folders.begin(), search_folders.end());
  for (const auto& folder : folders) {
    if (folder.empty()) continue;
    if (auto found = loader::MatchProgram(folder / name)) return found;
  }
  return std::nullopt;
}

}  // namespace platform

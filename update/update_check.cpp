#include "update/update_check.h"

#include <filesystem>
#include <optional>

#include "base/utf.h"
#include "lib/tclib.h"
#include "platform/file_info.h"
#include "platform/text.h"
#include "update/http_date.h"
#include "update/version_string.h"

namespace update {
namespace {

// The last-write time of `path` in whole seconds since 1970 UTC, fractions dropped.
std::optional<int64_t> LastWriteSeconds(std::u16string_view path) {
  const auto time = platform::LastWriteTime(platform::ToPath(path));
  if (!time) return std::nullopt;
  return static_cast<int64_t>(time->time_since_epoch().count());
}

bool IsFile(std::u16string_view path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(platform::ToPath(path), ec);
}

}  // namespace

int64_t CurrentUtcOffsetSeconds() { return platform::CurrentUtcOffsetSeconds(); }

int IsRemoteNewer(std::u16string_view url, std::u16string_view local_path,
                  const UpdateCheckOptions& options) {
  HttpClient client(options.http);
  try {
    client.Head(base::ToUtf8(url));
  } catch (const HttpError&) {
    if (client.last_status() != 302) return kNoUsableAnswer;
    // One more try at the location of the 302 response; its failure is the caller's.
    std::string base = client.last_url();
    std::string location = client.last_location();
    client.HeadLocation(base, location);
  }

  const int64_t offset =
      options.utc_offset_seconds ? options.utc_offset_seconds() : CurrentUtcOffsetSeconds();
  std::optional<int64_t> remote;
  if (client.last_modified()) remote = ParseHttpDate(*client.last_modified());
  if (!remote) return kRemoteNotNewer;  // the zero date-time is earlier than any file time

  std::optional<int64_t> file_time = LastWriteSeconds(local_path);
  if (!file_time) return kNoUsableAnswer;
  int64_t local = *file_time + offset;
  local -= ((local % 2) + 2) % 2;  // two-second resolution, also before 1970
  const int64_t remote_local = *remote + offset;
  return remote_local > local ? kRemoteNewer : kRemoteNotNewer;
}

void ShowUpdateNotice(std::u16string_view state, const StatusTextSink& set_status_text) {
  if (state == u"ON") {
    set_status_text(kUpdateNotice);
  } else {
    set_status_text(u"");
  }
}

std::u16string UpdaterPath(std::u16string_view program_path) {
  size_t last = program_path.find_last_of(tclib::kPathSeparator);
  std::u16string path(last == std::u16string_view::npos ? std::u16string_view{}
                                                        : program_path.substr(0, last + 1));
  path += kUpdaterFileName;
  return path;
}

void CheckForUpdate(std::u16string_view program_path, const StatusTextSink& set_status_text,
                    const UpdateCheckOptions& options) {
  const std::u16string updater = UpdaterPath(program_path);
  std::u16string url = GetVersionString(program_path, kInternalNameIndex);
  std::erase(url, u'\0');
  if (!IsFile(updater)) return;
  const int result = IsRemoteNewer(url, program_path, options);
  ShowUpdateNotice(result == kRemoteNewer ? u"ON" : u"OFF", set_status_text);
}

void StatusBar1DblClick(std::u16string_view program_path, const MainWindowParts& window,
                        const LaunchOrActivateFunction& launch_or_activate) {
  const std::u16string text = window.status_text();
  if (!text.starts_with(kUpdateNoticeMark)) return;
  const std::u16string updater = UpdaterPath(program_path);
  if (!IsFile(updater)) {
    window.show_warning(kUpdaterMissingWarning);
    return;
  }
  window.set_left(window.left() + window.width() / 2);
  launch_or_activate(updater, program_path, kUpdaterWindowTitle);
}

}  // namespace update

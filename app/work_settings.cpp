#include "app/work_settings.h"

#include <algorithm>
#include <exception>
#include <filesystem>

#include "lib/tclib.h"
#include "platform/error.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace app {

int SplashPause(std::u16string_view text) {
  const int time = tclib::StrToIntDef(text, kDefaultSplashTime);
  if (time < 0) return 0;
  return std::min(time, kMaxSplashTime);
}

std::optional<GridFontSize> GridFontSizeOf(int setting) {
  // Compared before negating: the most negative integer has no positive partner.
  if (setting == 0 || setting > kMaxGridFontSize || setting < -kMaxGridFontSize) {
    return std::nullopt;
  }
  if (setting > 0) return GridFontSize{false, setting};
  return GridFontSize{true, -setting};
}

WorkSettings ReadWorkSettings(const platform::Profile& profile) {
  WorkSettings settings;
  for (const WorkSetting& setting : kWorkSettings) {
    settings.*setting.field = profile.Read(kWorkSection, setting.key, setting.default_value);
  }
  return settings;
}

WorkSettings ReadWorkSettings(const std::u16string& path) {
  return ReadWorkSettings(platform::LoadProfile(platform::ToPath(path)));
}

void AppendWorkSettingEntries(const WorkSettings& settings,
                              std::vector<platform::ProfileEntry>& entries) {
  for (const WorkSetting& setting : kWorkSettings) {
    entries.push_back({kWorkSection, setting.key, settings.*setting.field});
  }
}

void WriteWorkSettings(const std::u16string& path, const WorkSettings& settings) {
  std::vector<platform::ProfileEntry> entries;
  AppendWorkSettingEntries(settings, entries);
  WriteSettingsOrRaise(path, entries);
}

void WriteSettingsOrRaise(const std::u16string& path,
                          const std::vector<platform::ProfileEntry>& entries) {
  try {
    platform::WriteProfileStrings(platform::ToPath(path), entries);
  } catch (const std::exception&) {
    throw platform::Error(path + u" に書き込めません");
  }
}

void WriteSettingOrRaise(const std::u16string& path, std::u16string_view section,
                         std::u16string_view key, std::u16string_view value) {
  try {
    platform::WriteProfileString(platform::ToPath(path), section, key, value);
  } catch (const std::exception&) {
    throw platform::Error(path + u" に書き込めません");
  }
}

}  // namespace app

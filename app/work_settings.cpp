#include "app/work_settings.h"

#include <exception>
#include <filesystem>

#include "platform/error.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace app {

WorkSettings ReadWorkSettings(const std::u16string& path) {
  const std::filesystem::path file = platform::ToPath(path);
  WorkSettings settings;
  for (const WorkSetting& setting : kWorkSettings) {
    settings.*setting.field =
        platform::ReadProfileString(file, kWorkSection, setting.key, setting.default_value);
  }
  return settings;
}

void WriteWorkSettings(const std::u16string& path, const WorkSettings& settings) {
  for (const WorkSetting& setting : kWorkSettings) {
    WriteSettingOrRaise(path, kWorkSection, setting.key, settings.*setting.field);
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

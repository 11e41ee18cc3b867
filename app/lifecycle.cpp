#include "app/lifecycle.h"

#include <QCheckBox>
#include <QLineEdit>
#include <vector>

#include "app/main_window.h"
#include "app/settings.h"
#include "app/splash.h"
#include "app/work_settings.h"
#include "platform/atomic_file.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "ui/qt_text.h"

namespace app {

void RunStartupSequence(TfrmMain& window) {
  const std::u16string settings_file = window.SettingsFile();
  // A save that was killed half-way left its temporary file beside the settings file.
  platform::RemoveStaleTemporaries(platform::ToPath(settings_file));
  {
    // The settings file is read once for the work settings and the placement.
    const platform::Profile profile = platform::LoadProfile(platform::ToPath(settings_file));
    const WorkSettings settings = ReadWorkSettings(profile);
    window.ShowWorkSettings(settings);
    window.ApplyGridSettings(settings);
    LoadFormPlacement(&window, u"", profile, window.environment().work_area());
  }

  const int splash_time = SplashPause(ui::ToU16(window.editSplashTime->text()));

  window.startup_splash_ = new TfrmSplash(window.environment().program_directory, &window);
  auto release_splash = [&window] {
    if (window.startup_splash_ == nullptr) return;
    window.startup_splash_->deleteLater();
    window.startup_splash_ = nullptr;
  };
  // A start-up that fails or ends early still takes the splash window down.
  struct ReleaseOnExit {
    decltype(release_splash)& release;
    ~ReleaseOnExit() { release(); }
  } release_on_exit{release_splash};

  window.startup_splash_->ShowAndPaint();
  // A negative time means no pause, like zero.
  if (splash_time > 0 && window.environment().pause) window.environment().pause(splash_time);

  if (!window.OpenBasicDatabaseAtStartup()) {
    window.ended_during_startup_ = true;
    return;
  }
  release_splash();
  window.CheckForUpdate();
}

void RunShutdownSequence(TfrmMain& window) {
  const std::u16string settings_file = window.SettingsFile();
  // One save of the file for the work settings and the placement.
  const WorkSettings settings = window.WorkSettingsFromBoxes();
  const PlacementKeys placement = FormPlacementKeys(&window, u"");
  std::vector<platform::ProfileEntry> entries;
  AppendWorkSettingEntries(settings, entries);
  placement.AppendTo(entries);
  WriteSettingsOrRaise(settings_file, entries);
  // After an early end during start-up the GIS application was never commanded; telling it
  // to close then would only fail with a warning.
  if (window.ckQuitAll->isChecked() && !window.ended_during_startup_) window.SendCloseAndQuit();
}

}  // namespace app

// What the window tests share: a QApplication for the whole run, a scratch program
// directory, and an environment that records what start-up and shutdown do.
#ifndef QUORVEL_TESTS_APP_APP_TEST_SUPPORT_H_
#define QUORVEL_TESTS_APP_APP_TEST_SUPPORT_H_

#include <QImage>
#include <filesystem>
#include <string>
#include <vector>

#include "app/environment.h"
#include "ui/dialogs.h"

namespace apptest {

namespace fs = std::filesystem;

inline const fs::path kFixtures = fs::path(QUORVEL_FIXTURES_DIR) / "jet4";
inline const fs::path kProjects = kFixtures / "generated-jackcess-T_projectMain-1000.mdb";

// A fresh program directory under the test's temporary folder, removed at the end.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& name);
  ~ScratchDir();
  const fs::path& path() const { return path_; }
  std::u16string u16() const;  // with the separator at the end
  fs::path Write(const std::string& name, const std::string& bytes) const;

 private:
  fs::path path_;
};

// Records the steps that reach outside the program, in order.
struct Recorder {
  std::vector<int> pauses;
  std::vector<std::string> steps;  // "update", "close"
  std::vector<bool> settings_file_existed_at_close;
};

// An environment over `dir` with the work area 0,0 1920×1040 unless given.
app::AppEnvironment TestEnvironment(const ScratchDir& dir, Recorder* recorder,
                                    QRect work_area = QRect(0, 0, 1920, 1040));

// Writes one key of the settings file in the program directory.
void WriteSetting(const ScratchDir& dir, std::u16string_view section, std::u16string_view key,
                  std::u16string_view value);

// The settings file's lines, decoded from code page 932, without line ends.
std::vector<std::u16string> SettingsLines(const ScratchDir& dir);

std::string Utf8(std::u16string_view text);

}  // namespace apptest

#endif  // QUORVEL_TESTS_APP_APP_TEST_SUPPORT_H_

#include "app_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <fstream>
#include <sstream>

#include "app/program.h"
#include "base/utf.h"
#include "platform/codepage.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace apptest {

namespace {

// One QApplication for every test of the program.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    application_ = new QApplication(argc, argv);
    app::AddFontSubstitutions();
  }
  void TearDown() override {
    delete application_;
    application_ = nullptr;
  }

 private:
  QApplication* application_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

int g_scratch_counter = 0;

}  // namespace

ScratchDir::ScratchDir(const std::string& name)
    : path_(fs::path(::testing::TempDir()) /
            (name + "-" + std::to_string(::getpid()) + "-" + std::to_string(++g_scratch_counter))) {
  fs::remove_all(path_);
  fs::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code error;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(path_, error);
}

std::u16string ScratchDir::u16() const { return platform::FromPath(path_) + u"/"; }

fs::path ScratchDir::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream(path_ / name, std::ios::binary) << bytes;
  return path_ / name;
}

app::AppEnvironment TestEnvironment(const ScratchDir& dir, Recorder* recorder, QRect work_area) {
  app::AppEnvironment environment;
  environment.program_directory = dir.u16();
  environment.work_area = [work_area] { return work_area; };
  environment.pause = [recorder](int milliseconds) { recorder->pauses.push_back(milliseconds); };
  environment.check_for_update = [recorder] { recorder->steps.push_back("update"); };
  const fs::path settings = dir.path() / "ProjectQuorvel.ini";
  environment.send_close_and_quit = [recorder, settings] {
    recorder->steps.push_back("close");
    recorder->settings_file_existed_at_close.push_back(fs::exists(settings));
  };
  return environment;
}

void WriteSetting(const ScratchDir& dir, std::u16string_view section, std::u16string_view key,
                  std::u16string_view value) {
  platform::WriteProfileString(dir.path() / "ProjectQuorvel.ini", section, key, value);
}

std::vector<std::u16string> SettingsLines(const ScratchDir& dir) {
  std::ifstream in(dir.path() / "ProjectQuorvel.ini", std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  const std::u16string text = platform::FromCodePage932(bytes.str());
  std::vector<std::u16string> lines;
  std::u16string line;
  for (char16_t c : text) {
    if (c == u'\n') {
      lines.push_back(line);
      line.clear();
    } else if (c != u'\r') {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string Utf8(std::u16string_view text) { return base::ToUtf8(text); }

}  // namespace apptest

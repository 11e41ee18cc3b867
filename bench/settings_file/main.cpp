// Loads and saves the program's settings in a settings file of about 50 MB (or the size in MB
// given as the first argument): the work-environment section first, a large section of other
// keys, then the main window's placement. Prints the time of each step.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "app/settings.h"
#include "app/work_settings.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void MakeFile(const std::filesystem::path& file, size_t megabytes) {
  std::string text =
      "[作業環境]\r\n基本データベース=C:\\データ\\基本.mdb\r\nグリッドフォントサイズ=12\r\n\r\n"
      "[履歴]\r\n";
  std::ofstream out(file, std::ios::binary);
  out << text;
  size_t written = text.size();
  for (size_t i = 0; written < megabytes << 20; ++i) {
    const std::string line =
        "key" + std::to_string(i) + "=value of the key number " + std::to_string(i) + "\r\n";
    out << line;
    written += line.size();
  }
  out << "\r\n[frmMain]\r\nTop=10\r\nLeft=20\r\nWidth=800\r\nHeight=600\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 50;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("settings_file_bench_" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(dir);
  const std::filesystem::path file = dir / "ProjectQuorvel.ini";
  MakeFile(file, megabytes);
  const std::u16string path = platform::FromPath(file);
  std::printf("settings file: %.1f MB\n",
              static_cast<double>(std::filesystem::file_size(file)) / (1 << 20));

  auto start = std::chrono::steady_clock::now();
  const platform::Profile profile = platform::LoadProfile(file);
  app::WorkSettings settings = app::ReadWorkSettings(profile);
  const app::Placement placement =
      app::ReadPlacement(profile, u"frmMain", QRect(0, 0, 1280, 1024), app::Placement{});
  std::printf("load (work settings and placement): %.3f s\n", SecondsSince(start));

  settings.grid_title = u"新しい題";
  start = std::chrono::steady_clock::now();
  app::WriteWorkSettings(path, settings);
  app::PlacementKeys keys{u"frmMain", {}};
  const int values[] = {placement.top, placement.left, placement.width, placement.height};
  for (size_t i = 0; i < keys.values.size(); ++i) {
    keys.values[i] = platform::FromPath(std::to_string(values[i]));
  }
  std::vector<platform::ProfileEntry> entries;
  app::AppendWorkSettingEntries(settings, entries);
  keys.AppendTo(entries);
  app::WriteSettingsOrRaise(path, entries);
  std::printf("save (work settings and placement): %.3f s\n", SecondsSince(start));

  std::filesystem::remove_all(dir);
  return 0;
}

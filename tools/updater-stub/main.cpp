// _Updater.exe: a stand-in for the updater. It shows a window titled
// "ツール自動バージョンアップ" owned by a second window, appends its command line to _Updater.log
// beside itself ("start pid argument-count arguments..."), and ends when its window is closed
// or it is asked to stop ("exit pid").
#include <string>
#include <vector>

#include "platform/process.h"
#include "tools/stub-common/stub_common.h"

int main(int argc, char** argv) {
  stub::InstallStopSignals();
  const stub::Log log("_Updater.log");
  const std::string pid = std::to_string(stub::ProcessId());
  const std::vector<std::string> arguments = stub::Arguments(argc, argv);
  stub::LogStart(log, arguments);

  stub::Windows windows;
  std::vector<std::string> lines{"ツール自動バージョンアップ (stand-in)"};
  lines.insert(lines.end(), arguments.begin(), arguments.end());
  windows.Show("_Updater", {40, 40, 240, 60}, "ツール自動バージョンアップ", {100, 100, 420, 100});
  windows.SetLines(lines);
  platform::NotifyStarterReady();

  while (!windows.close_requested() && !stub::StopRequested()) windows.Pump(200);
  log.Write({"exit", pid});
  return 0;
}

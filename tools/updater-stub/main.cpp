// _Updater.exe: a stand-in for the updater. It shows a window titled
// "ツール自動バージョンアップ" owned by a second window, appends its command line to _Updater.log
// beside itself
// ("start pid argument-count arguments..."), and ends when its window is closed or it is
// asked to stop ("exit pid").
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tools/stub-common/stub_common.h"

int main(int argc, char** argv) {
  stub::InstallStopSignals();
  const stub::Log log("_Updater.log");
  const std::string pid = std::to_string(getpid());
  stub::LogStart(log, argc, argv);

  stub::Display display;
  Window window = 0;
  std::vector<std::string> lines{"ツール自動バージョンアップ (stand-in)"};
  for (int i = 1; i < argc; ++i) lines.push_back(argv[i]);
  if (display) {
    const Window owner = display.CreateWindow("_Updater", 40, 40, 240, 60);
    window = display.CreateWindow("ツール自動バージョンアップ", 100, 100, 420, 100, owner);
    XMapWindow(display.get(), owner);
    XMapWindow(display.get(), window);
    XFlush(display.get());
  }
  platform::NotifyStarterReady();

  bool quit = false;
  while (!quit && !stub::StopRequested()) {
    pollfd fd{display ? display.fd() : -1, POLLIN, 0};
    if (display) XFlush(display.get());
    if (poll(&fd, 1, 200) < 0 && errno != EINTR) break;
    while (display && XPending(display.get()) > 0) {
      XEvent event;
      XNextEvent(display.get(), &event);
      if (event.type == Expose && event.xexpose.count == 0) {
        display.DrawLines(window, lines);
      } else if (display.IsDeleteRequest(event)) {
        quit = true;
      }
    }
  }
  log.Write({"exit", pid});
  return 0;
}

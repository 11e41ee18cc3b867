// quorvel.exe: a stand-in for the GIS application. It shows a window titled "GIS Quorvel"
// owned by a second window, serves DDE service "quorvel" topic "DdeQuorvel", opens (shows)
// the project of "READ_PROJECT@<path>", quits on "CLOSE_QUORVEL", and appends its command
// line and every conversation event to quorvel-stub.log beside itself:
//   start       pid  argument-count  arguments...
//   connect     pid  conversation
//   execute     pid  conversation  format  data-in-hex  data-as-text
//   disconnect  pid  conversation
//   forwarded   pid  project       (handed to the copy already serving)
//   dde-unavailable  pid  message
//   exit        pid
// One copy serves at a time: a copy started while another serves hands its project (if any)
// to that one over DDE and ends. Without a display it runs without windows. The same source
// serves POSIX and Windows; the windows are stub::Windows.
#include <memory>
#include <string>
#include <vector>

#include "base/utf.h"
#include "platform/codepage.h"
#include "platform/dde.h"
#include "platform/error.h"
#include "platform/process.h"
#include "tools/stub-common/stub_common.h"

namespace {

constexpr std::string_view kReadProject = "READ_PROJECT@";
constexpr std::string_view kClose = "CLOSE_QUORVEL";

// The command text: the bytes up to the first NUL, read as code page 932.
std::string CommandText(const std::string& data) {
  return base::ToUtf8(platform::FromCodePage932(data.substr(0, data.find('\0'))));
}

// Hands the project to the copy that serves the endpoint. False when none answers.
bool ForwardToServingCopy(const std::string& project) {
  try {
    platform::dde::Instance instance;
    auto conversation = instance.Connect(u"quorvel", u"DdeQuorvel");
    if (!conversation) return false;
    if (!project.empty()) {
      std::string data = platform::ToCodePage932(u"READ_PROJECT@" + base::FromUtf8(project));
      data.push_back('\0');
      conversation->Execute(data, conversation->format().value_or(platform::dde::kClipboardText));
    }
    return true;
  } catch (const platform::Error&) {
    return false;
  }
}

}  // namespace

int main(int argc, char** argv) {
  stub::InstallStopSignals();
  const stub::Log log("quorvel-stub.log");
  const std::string pid = std::to_string(stub::ProcessId());
  const std::vector<std::string> arguments = stub::Arguments(argc, argv);
  stub::LogStart(log, arguments);

  std::string project;
  if (!arguments.empty() && arguments[0] != "DdeQuorvel") project = arguments[0];

  std::unique_ptr<platform::dde::Server> server;
  std::u16string server_error;
  {
    const stub::StartLock lock;
    try {
      server = std::make_unique<platform::dde::Server>(u"quorvel", u"DdeQuorvel");
    } catch (const platform::Error& error) {
      server_error = error.message();
    }
  }
  if (!server) {
    if (ForwardToServingCopy(project)) {
      log.Write({"forwarded", pid, stub::Escape(project)});
    } else {
      log.Write({"dde-unavailable", pid, stub::Escape(base::ToUtf8(server_error))});
    }
    log.Write({"exit", pid});
    return 0;
  }

  stub::Windows windows;
  auto redraw = [&] { windows.SetLines({"GIS Quorvel (stand-in)", "project: " + project}); };
  windows.Show("Quorvel", {40, 40, 240, 60}, "GIS Quorvel", {80, 120, 560, 120});
  redraw();

  platform::NotifyStarterReady();

  bool quit = false;
  platform::dde::Server::Handlers handlers;
  handlers.on_connect = [&](uint64_t id) { log.Write({"connect", pid, std::to_string(id)}); };
  handlers.on_disconnect = [&](uint64_t id) { log.Write({"disconnect", pid, std::to_string(id)}); };
  handlers.on_execute = [&](uint64_t id, uint32_t format, const std::string& data) {
    const std::string text = CommandText(data);
    log.Write({"execute", pid, std::to_string(id), std::to_string(format), stub::Hex(data),
               stub::Escape(text)});
    if (text.starts_with(kReadProject)) {
      project = text.substr(kReadProject.size());
      redraw();
    } else if (text == kClose) {
      quit = true;
    }
  };

  while (!quit && !windows.close_requested() && !stub::StopRequested()) {
    // Short waits for commands keep the windows answering their events in between.
    server->WaitAndDispatch(windows ? 50 : 200, handlers);
    windows.Pump(0);
  }
  server.reset();
  log.Write({"exit", pid});
  return 0;
}

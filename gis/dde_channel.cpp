#include "gis/dde_channel.h"

#include <memory>

#include "platform/codepage.h"
#include "platform/dde.h"
#include "platform/error.h"

namespace gis {
namespace {

std::unique_ptr<platform::dde::Instance>& RunInstance() {
  static std::unique_ptr<platform::dde::Instance> instance;
  return instance;
}

uint32_t DefaultStarter(std::u16string_view command_line, platform::ShowState show) {
  return platform::WinExecLike(command_line, show);
}

// Opens the link: a conversation, or nullptr when nobody answers even after the start
// attempt. Raises an error when the instance is not initialised.
std::unique_ptr<platform::dde::Conversation> OpenLink(platform::dde::Instance* instance,
                                                      const StarterFunction& start) {
  if (instance == nullptr) throw platform::Error(u"DDE が初期化されていません");
  auto conversation = instance->Connect(kDdeService, kDdeTopic);
  if (conversation) return conversation;
  std::u16string command_line(kDdeService);
  command_line += u' ';
  command_line += kDdeTopic;
  if (start(command_line, platform::ShowState::kShowMinNoActive) >= 32) {
    conversation = instance->Connect(kDdeService, kDdeTopic);
  }
  return conversation;
}

// The format the conversation's frames carry: the one the server announced, or plain text
// when it announced none (not at all, or as format 0).
uint32_t DataFormat(const platform::dde::Conversation& conversation) {
  const uint32_t announced = conversation.format().value_or(platform::dde::kNoFormat);
  return announced == platform::dde::kNoFormat ? platform::dde::kClipboardText : announced;
}

}  // namespace

bool InitializeDde() {
  try {
    RunInstance() = std::make_unique<platform::dde::Instance>();
    return true;
  } catch (const std::exception&) {
    RunInstance().reset();
    return false;
  }
}

void UninitializeDde() {
  if (RunInstance()) RunInstance()->Uninitialize();
}

bool DdeInitialized() { return RunInstance() && RunInstance()->initialized(); }

std::u16string ReadProjectCommand(std::u16string_view project_file) {
  std::u16string command(kReadProjectPrefix);
  command += project_file;
  return command;
}

std::string CommandWireForm(std::u16string_view command) {
  std::string bytes = platform::ToCodePage932(command);
  bytes.push_back('\0');
  return bytes;
}

void SendDdeCommand(platform::dde::Instance* instance, std::u16string_view command,
                    const WarningFunction& warn, const StarterFunction& start) {
  std::unique_ptr<platform::dde::Conversation> conversation;
  try {
    conversation = OpenLink(instance, start);
    const std::string wire = CommandWireForm(command);
    if (conversation) {
      // Posted only: whether the server took it is neither awaited nor examined.
      conversation->Execute(wire, DataFormat(*conversation));
    }
  } catch (...) {
    if (warn) warn(kSendFailedMessage);
  }
  try {
    conversation.reset();
  } catch (...) {
    // Ending the conversation cannot fail in a way the user could act on.
  }
}

void SendReadProject(platform::dde::Instance* instance, std::u16string_view project_file,
                     const WarningFunction& warn, const StarterFunction& start) {
  SendDdeCommand(instance, ReadProjectCommand(project_file), warn, start);
}

void SendCloseAndQuit(platform::dde::Instance* instance, const WarningFunction& warn,
                      const std::function<void()>& close_main_window,
                      const StarterFunction& start) {
  SendDdeCommand(instance, kCloseCommand, warn, start);
  if (close_main_window) close_main_window();
}

void SendReadProject(std::u16string_view project_file, const WarningFunction& warn) {
  SendReadProject(RunInstance().get(), project_file, warn, DefaultStarter);
}

void SendCloseAndQuit(const WarningFunction& warn, const std::function<void()>& close_main_window) {
  SendCloseAndQuit(RunInstance().get(), warn, close_main_window, DefaultStarter);
}

}  // namespace gis

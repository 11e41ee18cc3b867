// The command channel to the GIS application: one DDE conversation per command.
#ifndef QUORVEL_GIS_DDE_CHANNEL_H_
#define QUORVEL_GIS_DDE_CHANNEL_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/process.h"

namespace platform::dde {
class Instance;
}

namespace gis {

inline constexpr std::u16string_view kDdeService = u"quorvel";
inline constexpr std::u16string_view kDdeTopic = u"DdeQuorvel";
inline constexpr std::u16string_view kReadProjectPrefix = u"READ_PROJECT@";
inline constexpr std::u16string_view kCloseCommand = u"CLOSE_QUORVEL";
inline constexpr std::u16string_view kSendFailedMessage = u"正しく送信ができませんでした";

// Shows `text` in a modal warning box with only an OK button.
using WarningFunction = std::function<void(std::u16string_view text)>;

// Starts a program from a loader command line (the first word looked up by name); a result of
// 32 or more means it was started.
using StarterFunction =
    std::function<uint32_t(std::u16string_view command_line, platform::ShowState show)>;

// The DDE instance of the program run: initialised at program start, released at the end.
// Returns false when the instance cannot be had (DDE cannot be used on this system);
// every command then shows the send-failed warning.
bool InitializeDde();
void UninitializeDde();
bool DdeInitialized();

// The command text of the open command: the prefix and the path, nothing between.
std::u16string ReadProjectCommand(std::u16string_view project_file);

// The bytes a command travels as: code page 932 ("?" for characters it cannot hold) and one
// closing NUL.
std::string CommandWireForm(std::u16string_view command);

// Sends one command in a conversation of its own over `instance`: connects; when no server
// answers, starts "quorvel DdeQuorvel" (minimised, not activated) through `start` and, when
// that started a program, connects once more; posts the command without awaiting an answer;
// ends the conversation. Any error on the way shows kSendFailedMessage once through `warn`;
// no server answering is not an error. A null `instance` counts as released.
void SendDdeCommand(platform::dde::Instance* instance, std::u16string_view command,
                    const WarningFunction& warn, const StarterFunction& start);

// The program's two commands over the run's instance, starting with platform::WinExecLike.
void SendReadProject(std::u16string_view project_file, const WarningFunction& warn);

// Sends CLOSE_QUORVEL, then calls `close_main_window` whatever happened.
void SendCloseAndQuit(const WarningFunction& warn, const std::function<void()>& close_main_window);

// The same with a given instance and starter (tests).
void SendReadProject(platform::dde::Instance* instance, std::u16string_view project_file,
                     const WarningFunction& warn, const StarterFunction& start);
void SendCloseAndQuit(platform::dde::Instance* instance, const WarningFunction& warn,
                      const std::function<void()>& close_main_window, const StarterFunction& start);

}  // namespace gis

#endif  // QUORVEL_GIS_DDE_CHANNEL_H_

#include "gis/open_project.h"

#include <filesystem>

#include "lib/process.h"
#include "platform/program_path.h"
#include "platform/text.h"

namespace gis {

std::u16string ProjectMissingBeforeStartMessage(std::u16string_view project_file) {
  std::u16string text = u"プロジェクトファイル\r\r";
  text += project_file;
  text += u"\r";
  text += u"\r";
  text += u"は見つかりませんでした";
  text += u"\r";
  text += u"正しいパスを指定してください";
  return text;
}

bool FileExists(std::u16string_view path) {
  if (path.empty()) return false;
  std::error_code error;
  const auto status = std::filesystem::status(platform::ToPath(path), error);
  return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

bool GisApplicationRunning() { return tclib::CountProcessesByName(kQuorvelExeName) > 0; }

void OpenSelectedProject(const OpenProjectContext& context) {
  const std::u16string project_file = context.read_filename();
  const auto count = context.count_processes ? context.count_processes(kQuorvelExeName)
                                             : tclib::CountProcessesByName(kQuorvelExeName);
  if (count <= 0) {
    std::u16string quorvel_path = context.quorvel_path_setting();
    if (!FileExists(quorvel_path)) {
      const std::u16string directory = context.program_directory.empty()
                                           ? platform::ProgramDirectory()
                                           : context.program_directory;
      quorvel_path = directory + std::u16string(kQuorvelExeName);
    }
    if (!FileExists(quorvel_path)) {
      context.warn(kQuorvelMissingMessage);
      return;
    }
    if (!FileExists(project_file)) {
      context.warn(ProjectMissingBeforeStartMessage(project_file));
      return;
    }
    if (context.launch_or_activate) {
      context.launch_or_activate(quorvel_path, project_file, kQuorvelWindowTitle);
    } else {
      tclib::LaunchOrActivate(quorvel_path, project_file, kQuorvelWindowTitle);
    }
    // The open command follows at once; a GIS application that does not answer yet gets the
    // project from its command line.
  }
  if (!FileExists(project_file)) {
    context.warn(kProjectMissingBeforeSendMessage);
    return;
  }
  if (context.send_read_project) {
    context.send_read_project(project_file);
  } else {
    SendReadProject(project_file, context.warn);
  }
}

void ProjectDoubleClicked(const OpenProjectContext& context,
                          const std::function<void()>& show_password_window) {
  if (!context.read_password().empty()) {
    show_password_window();
    return;
  }
  OpenSelectedProject(context);
}

bool AuthenticateAndOpen(const OpenProjectContext& context, std::u16string_view typed) {
  const std::u16string password = context.read_password();
  if (password != typed) {
    context.warn(kWrongPasswordMessage);
    return false;
  }
  OpenSelectedProject(context);
  return true;
}

}  // namespace gis

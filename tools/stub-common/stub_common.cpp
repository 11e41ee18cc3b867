#include "tools/stub-common/stub_common.h"

#include "platform/program_path.h"
#include "platform/text.h"

namespace stub {

std::string Escape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (char byte : bytes) {
    const auto c = static_cast<unsigned char>(byte);
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 0xF]);
  }
  return out;
}

Log::Log(const std::string& file_name)
    : path_(platform::ToPath(platform::ProgramDirectory()) / file_name) {}

void LogStart(const Log& log, const std::vector<std::string>& arguments) {
  std::vector<std::string> fields{"start", std::to_string(ProcessId()),
                                  std::to_string(arguments.size())};
  for (const auto& argument : arguments) fields.push_back(Escape(argument));
  log.Write(fields);
}

void Log::Write(const std::vector<std::string>& fields) const {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line.push_back('\t');
    line += fields[i];
  }
  line.push_back('\n');
  AppendToFile(path_, line);
}

}  // namespace stub

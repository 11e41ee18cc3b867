#include "platform/temporary_name.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <random>

namespace platform::temporary {
namespace {

using Char = std::filesystem::path::value_type;

NativeString Digits(uint64_t value) {
  const std::string text = std::to_string(value);
  return NativeString(text.begin(), text.end());
}

NativeString Native(std::string_view ascii) { return NativeString(ascii.begin(), ascii.end()); }

// The digits at the front of `text`, removed from it; false when there are none or more than
// 19 (which would not fit).
bool TakeDigits(NativeView& text, uint64_t& value) {
  size_t n = 0;
  value = 0;
  const auto is_digit = [&](size_t i) { return text[i] >= Char('0') && text[i] <= Char('9'); };
  while (n < text.size() && n < 19 && is_digit(n)) {
    value = value * 10 + static_cast<unsigned>(text[n] - Char('0'));
    ++n;
  }
  if (n == 0 || (n < text.size() && is_digit(n))) return false;
  text.remove_prefix(n);
  return true;
}

// Removes "-" and the number behind it from the front of `text`.
bool TakeDashedNumber(NativeView& text, uint64_t& value) {
  if (text.empty() || text.front() != Char('-')) return false;
  text.remove_prefix(1);
  return TakeDigits(text, value);
}

}  // namespace

NativeString Name(const NativeString& base_name, uint64_t process_id) {
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  return Native(".") + base_name + Native(".tmp") + Digits(process_id) + Native("-") +
         Digits(counter.fetch_add(1)) + Native("-") + Digits(random() % 1000000007u);
}

uint64_t Owner(NativeView name, const NativeString& base_name, SameName same) {
  const NativeString prefix = Native(".") + base_name + Native(".tmp");
  if (name.size() < prefix.size() || !same(name.substr(0, prefix.size()), prefix)) return 0;
  name.remove_prefix(prefix.size());
  uint64_t pid = 0, number = 0;
  if (!TakeDigits(name, pid) || !TakeDashedNumber(name, number) ||
      !TakeDashedNumber(name, number)) {
    return 0;
  }
  static const std::array<NativeString, 4> kSuffixes = {Native(""), Native("-journal"),
                                                        Native("-wal"), Native("-shm")};
  if (std::find(kSuffixes.begin(), kSuffixes.end(), name) == kSuffixes.end()) return 0;
  return pid;
}

std::filesystem::path FolderOf(const std::filesystem::path& file) {
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  return folder;
}

std::error_code CreateNew(
    const std::filesystem::path& folder, const NativeString& base_name, uint64_t process_id,
    const std::function<std::error_code(const std::filesystem::path&)>& create_new,
    std::filesystem::path& path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = folder / Name(base_name, process_id);
    const std::error_code error = create_new(path);
    if (!error) return {};
    if (error != std::errc::file_exists) {
      path.clear();
      return error;
    }
  }
  path.clear();
  return std::make_error_code(std::errc::file_exists);
}

}  // namespace platform::temporary

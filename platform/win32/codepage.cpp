// Code page 932 through MultiByteToWideChar and WideCharToMultiByte, the code page named
// explicitly so that the system's ANSI code page does not matter.
//
// Two points of the calls are not documented and differ between Windows versions and Wine, so
// the text is cut into runs first and the calls see only what they convert the same way
// everywhere:
//   - UTF-16 to 932: the code page holds no character outside the Basic Multilingual Plane,
//     and the calls write one or two "?" for a surrogate pair. A pair and a lone surrogate are
//     written as one "?" here, as the header says.
//   - 932 to UTF-16: for a lead byte followed by a byte that cannot be a trail byte (a line
//     end, a blank, "="), Wine gives U+30FB for both bytes together. The lead byte alone is
//     converted here, giving the code page's default character U+30FB, and the next byte is
//     read on its own, so a line end behind a damaged character stays a line end.
#include "platform/codepage.h"

#include <windows.h>

#include <algorithm>

namespace platform {
namespace {

constexpr UINT kCodePage = 932;

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool IsTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// The calls take int lengths; longer texts go in pieces that end at a character boundary.
constexpr size_t kPiece = size_t{1} << 28;

void AppendNarrow(std::u16string_view text, std::string& out) {
  while (!text.empty()) {
    size_t length = std::min(text.size(), kPiece);
    const auto* source = reinterpret_cast<const wchar_t*>(text.data());
    const int count = static_cast<int>(length);
    // No best-fit mapping: a character the code page does not hold becomes the default
    // character "?", never a look-alike (é stays unreadable rather than turning into e).
    static constexpr char kDefault[] = "?";
    const int needed = ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, source, count,
                                             nullptr, 0, kDefault, nullptr);
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(needed));
    ::WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, source, count, out.data() + start,
                          needed, kDefault, nullptr);
    text.remove_prefix(length);
  }
}

void AppendWide(std::string_view bytes, std::u16string& out) {
  while (!bytes.empty()) {
    size_t length = std::min(bytes.size(), kPiece);
    // Never cut between a lead byte and its trail byte.
    if (length < bytes.size()) {
      size_t i = 0;
      size_t boundary = 0;
      while (i < length) {
        boundary = i;
        i += IsLeadByte(static_cast<unsigned char>(bytes[i])) ? 2u : 1u;
      }
      if (i > length) length = boundary;
    }
    const int count = static_cast<int>(length);
    const int needed = ::MultiByteToWideChar(kCodePage, 0, bytes.data(), count, nullptr, 0);
    const size_t start = out.size();
    out.resize(start + static_cast<size_t>(needed));
    ::MultiByteToWideChar(kCodePage, 0, bytes.data(), count,
                          reinterpret_cast<wchar_t*>(out.data() + start), needed);
    bytes.remove_prefix(length);
  }
}

}  // namespace

std::string ToCodePage932(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  size_t run_start = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (!IsSurrogate(text[i])) {
      ++i;
      continue;
    }
    AppendNarrow(text.substr(run_start, i - run_start), out);
    out.push_back('?');
    const bool pair =
        IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]);
    i += pair ? 2 : 1;
    run_start = i;
  }
  AppendNarrow(text.substr(run_start), out);
  return out;
}

std::u16string FromCodePage932(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  size_t run_start = 0;
  size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (!IsLeadByte(b)) {
      ++i;
    } else if (i + 1 < bytes.size() && IsTrailByte(static_cast<unsigned char>(bytes[i + 1]))) {
      i += 2;
    } else {
      AppendWide(bytes.substr(run_start, i - run_start), out);
      out.push_back(u'\u30FB');  // the code page's default character, as for any undefined pair
      run_start = ++i;
    }
  }
  AppendWide(bytes.substr(run_start), out);
  return out;
}

}  // namespace platform

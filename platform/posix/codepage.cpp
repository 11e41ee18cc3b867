// Code page 932 through glibc's iconv. iconv stops at the first character it cannot convert;
// the loops below write the replacement for that one character and carry on after it.
#include "platform/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <stdexcept>

namespace platform {
namespace {

// One conversion descriptor per direction and thread, opened on first use.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  iconv_t get() {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    return cd_;
  }

 private:
  iconv_t cd_;
};

iconv_t ToCp932() {
  thread_local Converter converter("CP932", "UTF-16LE");
  return converter.get();
}

iconv_t FromCp932() {
  thread_local Converter converter("UTF-16LE", "CP932");
  return converter.get();
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool IsTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// Runs iconv over the whole input into out (bytes), growing out as needed. Returns the number
// of input bytes consumed when iconv stopped at an unconvertible or incomplete sequence, or the
// full input size when everything was converted.
size_t ConvertRun(iconv_t cd, const char* input, size_t input_size, std::string& out) {
  char* in = const_cast<char*>(input);
  size_t in_left = input_size;
  char buffer[16384];
  for (;;) {
    char* dst = buffer;
    size_t dst_left = sizeof buffer;
    const size_t rc = iconv(cd, &in, &in_left, &dst, &dst_left);
    const int error = errno;
    out.append(buffer, sizeof buffer - dst_left);
    if (rc != static_cast<size_t>(-1)) return input_size;
    if (error == E2BIG) continue;
    return input_size - in_left;  // EILSEQ or EINVAL: stopped before the bad sequence
  }
}

}  // namespace

std::string ToCodePage932(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  iconv_t cd = ToCp932();
  std::string utf16le;
  // Converts text[begin, end), which holds no lone surrogate; a character iconv cannot convert
  // becomes "?" and the conversion carries on after it.
  auto convert = [&](size_t begin, size_t end) {
    utf16le.clear();
    for (size_t i = begin; i < end; ++i) {
      utf16le.push_back(static_cast<char>(text[i] & 0xFF));
      utf16le.push_back(static_cast<char>(text[i] >> 8));
    }
    size_t position = 0;  // in bytes
    while (position < utf16le.size()) {
      position += ConvertRun(cd, utf16le.data() + position, utf16le.size() - position, out);
      if (position >= utf16le.size()) break;
      out.push_back('?');
      const char16_t c = text[begin + position / 2];
      position += IsHighSurrogate(c) ? 4u : 2u;  // a pair counts as one character
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  };
  size_t run_start = 0;
  size_t i = 0;
  while (i < text.size()) {
    const char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      i += 2;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      convert(run_start, i);
      out.push_back('?');  // a lone surrogate
      run_start = ++i;
    } else {
      ++i;
    }
  }
  convert(run_start, text.size());
  return out;
}

std::u16string FromCodePage932(std::string_view bytes) {
  std::string utf16le;
  utf16le.reserve(bytes.size() * 2);
  iconv_t cd = FromCp932();
  auto replacement = [&] {
    utf16le.push_back(static_cast<char>(0xFD));
    utf16le.push_back(static_cast<char>(0xFF));
  };
  // Converts bytes[begin, end), which is made of single bytes and lead-trail pairs; a pair the
  // code page does not assign becomes one U+FFFD.
  auto convert = [&](size_t begin, size_t end) {
    size_t position = begin;
    while (position < end) {
      position += ConvertRun(cd, bytes.data() + position, end - position, utf16le);
      if (position >= end) break;
      replacement();
      const auto b = static_cast<unsigned char>(bytes[position]);
      position += (IsLeadByte(b) && position + 1 < end) ? 2u : 1u;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  };
  // Bytes that cannot start a character (and lead bytes without a trail byte) become U+FFFD
  // here, without a call into iconv for each; a line end or other ASCII byte after a broken
  // lead byte is kept.
  size_t run_start = 0;
  size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80 || (b >= 0xA1 && b <= 0xDF)) {
      ++i;
    } else if (IsLeadByte(b) && i + 1 < bytes.size() &&
               IsTrailByte(static_cast<unsigned char>(bytes[i + 1]))) {
      i += 2;
    } else {
      convert(run_start, i);
      replacement();
      run_start = ++i;
    }
  }
  convert(run_start, bytes.size());
  std::u16string out(utf16le.size() / 2, u'\0');
  for (size_t k = 0; k < out.size(); ++k) {
    out[k] = static_cast<char16_t>(static_cast<unsigned char>(utf16le[2 * k]) |
                                   (static_cast<unsigned char>(utf16le[2 * k + 1]) << 8));
  }
  return out;
}

}  // namespace platform

// Settings-file contents from the fuzzer. The first byte picks a section and two keys; the
// rest is the file. Reading must not fail, and a write must read back, be stable when repeated
// and leave other keys' values alone; a batch of writes through one Profile must give the bytes
// of the same writes one by one. A slow input is a finding (see fuzz/seeds/fuzz_profile.options).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/profile.h"

namespace {

const std::u16string_view kSections[] = {u"作業環境", u"frmMain", u"FRMMAIN", u"s", u""};
const std::u16string_view kKeys[] = {u"基本データベース", u"Top", u"top", u"k", u"?"};

// Which names are equal without letter case (only "Top" and "top" in kKeys).
bool SameKey(size_t a, size_t b) { return a == b || (a == 1 && b == 2) || (a == 2 && b == 1); }

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::u16string_view section = kSections[selector % 5];
  const size_t key = (selector / 5) % 5;
  const size_t other_key = (selector / 25) % 5;

  const std::u16string before =
      platform::ReadProfileStringFromBytes(bytes, section, kKeys[other_key], u"<default>");
  Check(before.size() <= platform::kMaxProfileValueLength);
  platform::ReadProfileStringFromBytes(bytes, section, kKeys[key], u"<default>");

  const std::u16string value = u"新しい 値=42";
  const std::string after = platform::WriteProfileStringToBytes(bytes, section, kKeys[key], value);
  Check(platform::ReadProfileStringFromBytes(after, section, kKeys[key], u"") == value);
  // Writing the same value again finds the line just written and changes nothing.
  Check(platform::WriteProfileStringToBytes(after, section, kKeys[key], value) == after);
  if (!SameKey(key, other_key)) {
    Check(platform::ReadProfileStringFromBytes(after, section, kKeys[other_key], u"<default>") ==
          before);
  }
  // A batch through one Profile gives the bytes and reads of one-key writes.
  const std::u16string_view second_section = kSections[(selector / 7) % 5];
  platform::Profile profile(bytes);
  profile.Write(section, kKeys[key], value);
  profile.Write(second_section, kKeys[other_key], u"2");
  const std::string twice =
      platform::WriteProfileStringToBytes(after, second_section, kKeys[other_key], u"2");
  Check(profile.Bytes() == twice);
  Check(profile.Read(section, kKeys[key], u"<default>") ==
        platform::ReadProfileStringFromBytes(twice, section, kKeys[key], u"<default>"));
  // The encoding of the file never changes.
  const bool utf16 = bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE";
  Check(utf16 == (after.size() >= 2 && std::string_view(after).substr(0, 2) == "\xFF\xFE"));
  return 0;
}

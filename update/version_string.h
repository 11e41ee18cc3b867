// The standard strings of an executable's version block, read the way the program has always
// read them: through the first translation entry, with the stored length kept.
#ifndef QUORVEL_UPDATE_VERSION_STRING_H_
#define QUORVEL_UPDATE_VERSION_STRING_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace update {

// The keys, chosen by index.
inline constexpr std::array<std::u16string_view, 12> kVersionKeys = {
    u"Comments",     u"CompanyName",    u"FileDescription", u"FileVersion",
    u"InternalName", u"LegalCopyright", u"LegalTrademarks", u"OriginalFilename",
    u"PrivateBuild", u"ProductName",    u"ProductVersion",  u"SpecialBuild",
};

inline constexpr uint8_t kInternalNameIndex = 4;

inline constexpr std::u16string_view kVersionInfoError = u"情報の取得に失敗しました";

// The value of key `kVersionKeys[key_index]` in the string table of the first translation
// entry of `file_path`'s version block. The text has exactly the stored length: the value's
// characters up to its first NUL, then NUL characters up to that length (so a length that
// counts the closing NUL gives a text ending in one NUL).
//
// Empty when the file has no version block, when the key is absent or when `key_index` lies
// outside the table. Throws platform::Error "情報の取得に失敗しました" when the block has no
// translation entry.
std::u16string GetVersionString(std::u16string_view file_path, uint8_t key_index);

}  // namespace update

#endif  // QUORVEL_UPDATE_VERSION_STRING_H_

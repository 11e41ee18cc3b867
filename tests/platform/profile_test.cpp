// The settings file on both systems: one table of cases runs against the POSIX stand-in here and
// against Windows' profile API under Wine. Where the two disagree, Windows' documented behaviour
// decides; where Wine is known to differ from Windows, a case also states Wine's own result.
#include "platform/profile.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <thread>

#include "base/utf.h"
#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/text.h"
#include "tests/platform/os_support.h"
#include "tests/support/test_env.h"

namespace {

namespace fs = std::filesystem;

using platform_test::kWindows;

// Under Wine the file functions are Wine's profile code.
const bool kWine = platform_test::UnderWine();

class TempDir {
 public:
  TempDir() : path_(platform_test::MakeScratchFolder("quorvel-profile")) {}
  ~TempDir() {
    std::error_code error;
    // Undo what tests did to make things unwritable, then remove everything.
    for (const auto& entry : fs::recursive_directory_iterator(path_, error)) {
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::remove_all(path_, error);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Cp932(std::u16string_view text) { return platform::ToCodePage932(text); }

// Bytes as hexadecimal text, so that a difference shows where it is.
using gistest::ToHex;

std::string Utf16File(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

// Reads and writes go through the file functions; the in-memory forms are checked by the
// tests that name them.
std::u16string Read(const fs::path& file, std::u16string_view section, std::u16string_view key,
                    std::u16string_view default_value = u"<default>") {
  return platform::ReadProfileString(file, section, key, default_value);
}

// --- Reading ------------------------------------------------------------------------------------

struct ReadCase {
  const char* description;
  std::u16string content;  // stored as code page 932 and, again, as UTF-16LE
  std::u16string section;
  std::u16string key;
  std::u16string expected;  // "<default>" when the default comes back
  std::u16string default_value = u"<default>";
  // Wine's result where it is known to differ from Windows.
  std::optional<std::u16string> under_wine = std::nullopt;
};

const ReadCase kReadCases[] = {
    {"plain", u"[s]\r\nk=v\r\n", u"s", u"k", u"v"},
    {"section differs in case", u"[frmMain]\r\nTop=5\r\n", u"FRMMAIN", u"top", u"5"},
    // Windows compares the names without case over all of Unicode; Wine folds only ASCII
    // letters.
    {"full-width letters fold too", u"[ＡＢ]\r\nｋ=1\r\n", u"ａｂ", u"Ｋ", u"1", u"<default>",
     u"<default>"},
    {"blanks around the value", u"[s]\r\nk=   v w \t \r\n", u"s", u"k", u"v w"},
    {"blanks around key and section", u" [ s ] \r\n\t k \t=v\r\n", u"s", u"k", u"v"},
    {"double quotes", u"[s]\r\nk=\"  v  \"\r\n", u"s", u"k", u"  v  "},
    {"single quotes", u"[s]\r\nk='v'\r\n", u"s", u"k", u"v"},
    {"quotes after blanks", u"[s]\r\nk=  \"v\"  \r\n", u"s", u"k", u"v"},
    {"only one pair of quotes", u"[s]\r\nk=\"\"v\"\"\r\n", u"s", u"k", u"\"v\""},
    {"mismatched quotes stay", u"[s]\r\nk='v\"\r\n", u"s", u"k", u"'v\""},
    {"one quote alone stays", u"[s]\r\nk=\"\r\n", u"s", u"k", u"\""},
    {"empty quotes", u"[s]\r\nk=\"\"\r\n", u"s", u"k", u""},
    {"empty value is not the default", u"[s]\r\nk=\r\n", u"s", u"k", u""},
    {"value with equals signs", u"[s]\r\nk=a=b=c\r\n", u"s", u"k", u"a=b=c"},
    {"missing key", u"[s]\r\nk=v\r\n", u"s", u"x", u"<default>"},
    {"missing section", u"[s]\r\nk=v\r\n", u"t", u"k", u"<default>"},
    {"key of another section", u"[s]\r\nk=v\r\n[t]\r\nj=w\r\n", u"s", u"j", u"<default>"},
    {"key before any section", u"k=v\r\n[s]\r\n", u"s", u"k", u"<default>"},
    {"empty file", u"", u"s", u"k", u"<default>"},
    {"line without equals sign", u"[s]\r\nk\r\n", u"s", u"k", u"<default>"},
    {"comment is not a key", u"[s]\r\n;k=1\r\nk=2\r\n", u"s", u"k", u"2"},
    {"first of two keys", u"[s]\r\nk=1\r\nK=2\r\n", u"s", u"k", u"1"},
    // Only the first section of a name is read (Windows and Wine agree; the stand-in used to
    // look in every section of the name).
    {"repeated section", u"[s]\r\na=1\r\n[t]\r\n[S]\r\nk=2\r\n", u"s", u"k", u"<default>"},
    {"repeated section, key in the first", u"[s]\r\nk=1\r\n[S]\r\nk=2\r\n", u"S", u"k", u"1"},
    // The keys before the first section line are the section with the empty name, which an
    // empty section line later on only repeats.
    {"keys before the first section", u"k=v\r\n[s]\r\n", u"", u"k", u"v"},
    {"empty section line", u"[]\r\nk=e\r\n", u"", u"k", u"<default>"},
    // Windows documents that the default loses its trailing blanks (Wine keeps them; the Win32
    // implementation drops them before the call).
    {"default with trailing blanks", u"[s]\r\n", u"s", u"k", u"  d e", u"  d e  \t "},
    {"default when the value is empty", u"[s]\r\nk=\r\n", u"s", u"k", u"", u"d "},
    {"blanks inside names stay", u"[a b]\r\nk l=v\r\n", u"a b", u"k l", u"v"},
    {"blanks inside names are not merged", u"[s]\r\na  b = v\r\n", u"s", u"a b", u"<default>"},
    {"blanks inside the brackets", u"[ s t ]\r\nk=v\r\n", u" s t ", u"k", u"v"},
    {"LF line ends", u"[s]\nk=v\n", u"s", u"k", u"v"},
    {"CR line ends", u"[s]\rk=v\r", u"s", u"k", u"v"},
    {"no line end at the end", u"[s]\r\nk=v", u"s", u"k", u"v"},
    {"section name with brackets", u"[a]b]\r\nk=v\r\n", u"a]b", u"k", u"v"},
    {"unclosed bracket is a key line", u"[s]\r\n[x=1\r\n", u"s", u"[x", u"1"},
    {"Japanese names", u"[作業環境]\r\nグリッドタイトル=主題図\r\n", u"作業環境",
     u"グリッドタイトル", u"主題図"},
    {"value cut at a NUL", std::u16string(u"[s]\r\nk=ab\0cd\r\n", 14), u"s", u"k", u"ab"},
};

TEST(ProfileTest, ReadsInBothEncodings) {
  TempDir dir;
  int round = 0;
  for (const ReadCase& c : kReadCases) {
    // New names each time: Wine keeps the files it has read in memory while their time stamps
    // stay, and a time stamp may not change between two quick writes.
    const std::string name = std::to_string(round++);
    const fs::path cp932 = dir.path() / ("cp932-" + name + ".ini");
    const fs::path utf16 = dir.path() / ("utf16-" + name + ".ini");
    WriteBytes(cp932, Cp932(c.content));
    WriteBytes(utf16, Utf16File(c.content));
    const std::u16string expected = kWine && c.under_wine ? *c.under_wine : c.expected;
    EXPECT_EQ(base::ToUtf8(Read(cp932, c.section, c.key, c.default_value)), base::ToUtf8(expected))
        << c.description << " (code page 932)";
    EXPECT_EQ(base::ToUtf8(Read(utf16, c.section, c.key, c.default_value)), base::ToUtf8(expected))
        << c.description << " (UTF-16LE)";
    // A Profile made from the file's bytes reads as the file functions do.
    EXPECT_EQ(base::ToUtf8(platform::LoadProfile(cp932).Read(c.section, c.key, c.default_value)),
              base::ToUtf8(c.expected))
        << c.description << " (Profile)";
  }
}

// Files whose bytes matter beyond the text they hold.
struct ReadBytesCase {
  const char* description;
  std::string bytes;
  std::u16string section;
  std::u16string key;
  std::u16string expected;
  std::optional<std::u16string> under_wine = std::nullopt;
};

const ReadBytesCase kReadBytesCases[] = {
    // Windows reads a file as UTF-16LE only after that byte-order mark and every other file in
    // the ANSI code page, so a UTF-8 byte-order mark spoils the first line. Wine reads such a
    // file as UTF-8.
    {"UTF-8 byte-order mark, first section", "\xEF\xBB\xBF[s]\r\nk=1\r\n", u"s", u"k", u"<default>",
     u"1"},
    {"UTF-8 byte-order mark, later section", "\xEF\xBB\xBF[s]\r\nk=1\r\n[t]\r\nk=2\r\n", u"t", u"k",
     u"2"},
    // A lead byte without its trail byte is the default character and the blank after it stays;
    // Wine takes the blank into the broken character.
    {"broken double-byte character", "[s]\r\nk=a\x81 b\r\n", u"s", u"k", u"a\u30FB b", u"a\u30FBb"},
    {"unassigned double-byte character", "[s]\r\nk=\x85\x40\r\n", u"s", u"k", u"\u30FB"},
    {"bytes Windows maps", "[s]\r\nk=\x80\xA0\xFD\r\n", u"s", u"k", u"\u0080\uF8F0\uF8F1"},
    {"UTF-16LE outside code page 932", Utf16File(u"[s]\r\nk=𠮷\r\n"), u"s", u"k", u"𠮷"},
};

TEST(ProfileTest, ReadsTheBytesOfTheFile) {
  TempDir dir;
  int round = 0;
  for (const ReadBytesCase& c : kReadBytesCases) {
    const fs::path file = dir.path() / ("bytes" + std::to_string(round++) + ".ini");
    WriteBytes(file, c.bytes);
    const std::u16string expected = kWine && c.under_wine ? *c.under_wine : c.expected;
    EXPECT_EQ(base::ToUtf8(Read(file, c.section, c.key)), base::ToUtf8(expected)) << c.description;
    EXPECT_EQ(
        base::ToUtf8(platform::ReadProfileStringFromBytes(c.bytes, c.section, c.key, u"<default>")),
        base::ToUtf8(c.expected))
        << c.description << " (from bytes)";
  }
}

// Writes through the file functions. Windows edits the one line in place and keeps every other
// line byte for byte, as the stand-in does. Wine rewrites the whole file on every write: it drops
// blank lines, ends every line with CR LF, writes each key line as "key=value" and writes other
// code page 932 text in its own conversion; `under_wine` is that form, Wine's own.
struct WriteCase {
  const char* description;
  std::optional<std::string> before;  // std::nullopt: no file
  std::u16string section;
  std::u16string key;
  std::u16string value;
  std::string expected;
  std::optional<std::string> under_wine = std::nullopt;
};

const WriteCase kWriteCases[] = {
    {"new file", std::nullopt, u"s", u"k", u"v", "[s]\r\nk=v\r\n"},
    {"update keeps the other lines", "; c\r\n\r\n[s]\r\n  k  =  old  \r\nj=1\r\n\r\n[t]\r\nx=1\r\n",
     u"s", u"k", u"new", "; c\r\n\r\n[s]\r\n  k  =  new\r\nj=1\r\n\r\n[t]\r\nx=1\r\n",
     "; c\r\n[s]\r\nk=new\r\nj=1\r\n[t]\r\nx=1\r\n"},
    {"new key at the end of its section", "[s]\r\nk=1\r\n\r\n[t]\r\nx=1\r\n", u"s", u"n", u"2",
     "[s]\r\nk=1\r\nn=2\r\n\r\n[t]\r\nx=1\r\n", "[s]\r\nk=1\r\nn=2\r\n[t]\r\nx=1\r\n"},
    {"new section at the end", "[s]\r\nk=v\r\n", u"t", u"k", u"v",
     "[s]\r\nk=v\r\n\r\n[t]\r\nk=v\r\n", "[s]\r\nk=v\r\n[t]\r\nk=v\r\n"},
    {"LF line ends", "[s]\nk=1\n", u"s", u"n", u"2", "[s]\nk=1\nn=2\n", "[s]\r\nk=1\r\nn=2\r\n"},
    {"names differing in case", "[S]\r\nK=1\r\n", u"s", u"k", u"2", "[S]\r\nK=2\r\n"},
    // Only the first section of a name is written (the stand-in used to update the key in the
    // later one).
    {"repeated section", "[s]\r\na=1\r\n[t]\r\n[S]\r\nk=2\r\n", u"s", u"k", u"3",
     "[s]\r\na=1\r\nk=3\r\n[t]\r\n[S]\r\nk=2\r\n"},
    {"keys before the first section", "k=0\r\n[s]\r\nk=1\r\n", u"", u"k", u"9",
     "k=9\r\n[s]\r\nk=1\r\n"},
    {"new key before the first section", "[s]\r\nk=1\r\n", u"", u"n", u"9",
     "n=9\r\n[s]\r\nk=1\r\n"},
    // Blanks around the value are stored; they read back the same either way.
    {"value with blanks", std::nullopt, u"s", u"k", u"  v  ", "[s]\r\nk=  v  \r\n",
     "[s]\r\nk=v  \r\n"},
    // Characters the code page does not hold are "?"; Wine writes a look-alike where its
    // best-fit table has one and a "?" for each half of a surrogate pair.
    {"characters outside code page 932", std::nullopt, u"s", u"k", u"é𠮷〜", "[s]\r\nk=???\r\n",
     "[s]\r\nk=e???\r\n"},
    {"UTF-16LE file", Utf16File(u"[s]\r\n"), u"s", u"k", u"𠮷", Utf16File(u"[s]\r\nk=𠮷\r\n")},
    {"damaged line of another key", "[s]\r\nk=a\x81 b\xFF\r\n", u"s", u"j", u"2",
     "[s]\r\nk=a\x81 b\xFF\r\nj=2\r\n", "[s]\r\nk=a\x81\x45\x62\xFF\r\nj=2\r\n"},
};

TEST(ProfileTest, WritesEditTheFile) {
  TempDir dir;
  int round = 0;
  for (const WriteCase& c : kWriteCases) {
    // A new name each time: Wine keeps the files it has read in memory.
    const fs::path file = dir.path() / ("write" + std::to_string(round++) + ".ini");
    if (c.before) WriteBytes(file, *c.before);
    platform::WriteProfileString(file, c.section, c.key, c.value);
    const std::string expected = kWine && c.under_wine ? *c.under_wine : c.expected;
    EXPECT_EQ(ToHex(ReadBytes(file)), ToHex(expected)) << c.description;
    // The in-memory form is the stand-in's on both systems.
    EXPECT_EQ(ToHex(platform::WriteProfileStringToBytes(c.before.value_or(""), c.section, c.key,
                                                        c.value)),
              ToHex(c.expected))
        << c.description << " (in memory)";
  }
}

TEST(ProfileTest, MissingOrUnreadableFileGivesTheDefault) {
  TempDir dir;
  EXPECT_EQ(Read(dir.path() / "none.ini", u"s", u"k", u"16"), u"16");
  EXPECT_EQ(Read(dir.path() / "no-folder" / "none.ini", u"s", u"k", u"16"), u"16");
  EXPECT_EQ(Read(dir.path(), u"s", u"k", u"16"), u"16");  // a folder
#ifndef _WIN32
  ASSERT_EQ(::mkfifo((dir.path() / "pipe.ini").c_str(), 0600), 0);
  EXPECT_EQ(Read(dir.path() / "pipe.ini", u"s", u"k", u"16"), u"16");  // and no hang
#endif
}

// --- Writing ------------------------------------------------------------------------------------

TEST(ProfileTest, CodePage932RoundTripOfJapaneseNames) {
  TempDir dir;
  const fs::path file = dir.path() / "ProjectQuorvel.ini";
  platform::WriteProfileString(file, u"作業環境", u"基本データベース", u"C:\\データ\\基本.mdb");
  platform::WriteProfileString(file, u"作業環境", u"グリッドタイトル", u"主題図");
  platform::WriteProfileString(file, u"frmMain", u"Top", u"-8");

  const std::string bytes = ReadBytes(file);
  // A new file is written in code page 932, without a byte-order mark, with CR LF line ends.
  const std::string section_line = "[\x8D\xEC\x8B\xC6\x8A\xC2\x8B\xAB]\r\n";
  EXPECT_EQ(bytes.substr(0, section_line.size()), section_line);
  // Wine writes no blank line between sections.
  EXPECT_EQ(bytes, Cp932(std::u16string(u"[作業環境]\r\n"
                                        u"基本データベース=C:\\データ\\基本.mdb\r\n"
                                        u"グリッドタイトル=主題図\r\n") +
                         (kWine ? u"" : u"\r\n") +
                         u"[frmMain]\r\n"
                         u"Top=-8\r\n"));

  EXPECT_EQ(Read(file, u"作業環境", u"基本データベース"), u"C:\\データ\\基本.mdb");
  EXPECT_EQ(Read(file, u"作業環境", u"グリッドタイトル"), u"主題図");
  EXPECT_EQ(Read(file, u"FRMMAIN", u"TOP"), u"-8");
}

TEST(ProfileTest, Utf16FileStaysUtf16) {
  TempDir dir;
  const fs::path file = dir.path() / "wide.ini";
  WriteBytes(file, Utf16File(u"[作業環境]\r\nグリッドタイトル=主題図\r\n"));
  platform::WriteProfileString(file, u"作業環境", u"グリッドタイトル", u"𠮷野家の地図");
  platform::WriteProfileString(file, u"作業環境", u"基本データベース", u"D:\\基本.mdb");
  platform::WriteProfileString(file, u"frmMain", u"Left", u"100");
  EXPECT_EQ(ReadBytes(file), Utf16File(std::u16string(u"[作業環境]\r\n"
                                                      u"グリッドタイトル=𠮷野家の地図\r\n"
                                                      u"基本データベース=D:\\基本.mdb\r\n") +
                                       (kWine ? u"" : u"\r\n") +  // Wine: no blank line
                                       u"[frmMain]\r\n"
                                       u"Left=100\r\n"));
  // Characters outside code page 932 survive only in a UTF-16 file.
  EXPECT_EQ(Read(file, u"作業環境", u"グリッドタイトル"), u"𠮷野家の地図");
}

TEST(ProfileTest, CodePage932FileStoresUnmappableCharactersAsQuestionMarks) {
  TempDir dir;
  const fs::path file = dir.path() / "narrow.ini";
  platform::WriteProfileString(file, u"作業環境", u"グリッドタイトル", u"𠮷野家😀");
  // Wine writes a "?" for each half of a surrogate pair.
  const std::u16string mark = kWine ? u"??" : u"?";
  EXPECT_EQ(Read(file, u"作業環境", u"グリッドタイトル"), mark + u"野家" + mark);
  // A name with such characters is stored with "?" and, as in Windows, never found again: the
  // file holds another name. Each write adds the section anew (the stand-in used to find its
  // own line again).
  platform::WriteProfileString(file, u"s😀", u"k😀", u"1");
  platform::WriteProfileString(file, u"s😀", u"k😀", u"2");
  EXPECT_EQ(Read(file, u"s😀", u"k😀"), u"<default>");
  const std::u16string gap = kWine ? u"\r\n" : u"\r\n\r\n";  // Wine: no blank lines
  const std::u16string section = u"[s" + mark + u"]\r\nk" + mark + u"=";
  EXPECT_EQ(ReadBytes(file), Cp932(u"[作業環境]\r\nグリッドタイトル=" + mark + u"野家" + mark +
                                   gap + section + u"1" + gap + section + u"2\r\n"));
}

// A file as a person would write it: comments, blank lines, odd spacing, CR LF line ends.
const std::u16string kHandWritten =
    u"; ProjectQuorvel の設定\r\n"
    u"\r\n"
    u"[作業環境]\r\n"
    u"  基本データベース  =   C:\\old.mdb   \r\n"
    u"; スプラッシュの表示時間はミリ秒\r\n"
    u"スプラッシュ画像表示時間=1000\r\n"
    u"\r\n"
    u"[ frmMain ]\r\n"
    u"Top=10\r\n"
    u"left = 20\r\n"
    u"\r\n"
    u";end\r\n";

TEST(ProfileTest, HandWrittenFileKeepsEveryOtherLine) {
  TempDir dir;
  const fs::path file = dir.path() / "hand.ini";
  WriteBytes(file, Cp932(kHandWritten));

  platform::WriteProfileString(file, u"作業環境", u"基本データベース", u"D:\\新しい.mdb");
  platform::WriteProfileString(file, u"作業環境", u"グリッドタイトル", u"主題図");
  platform::WriteProfileString(file, u"FRMMAIN", u"Left", u"-8");
  platform::WriteProfileString(file, u"frmMain", u"Width", u"640");
  platform::WriteProfileString(file, u"その他", u"キー", u"値");

  if (kWine) {
    // Wine's own rewrite: blank lines dropped, names and values without the blanks around
    // them; Windows changes only the lines below.
    EXPECT_EQ(ReadBytes(file), Cp932(u"; ProjectQuorvel の設定\r\n"
                                     u"[作業環境]\r\n"
                                     u"基本データベース=D:\\新しい.mdb\r\n"
                                     u"; スプラッシュの表示時間はミリ秒\r\n"
                                     u"スプラッシュ画像表示時間=1000\r\n"
                                     u"グリッドタイトル=主題図\r\n"
                                     u"[frmMain]\r\n"
                                     u"Top=10\r\n"
                                     u"left=-8\r\n"
                                     u";end\r\n"
                                     u"Width=640\r\n"
                                     u"[その他]\r\n"
                                     u"キー=値\r\n"));
    return;
  }
  EXPECT_EQ(ReadBytes(file), Cp932(u"; ProjectQuorvel の設定\r\n"
                                   u"\r\n"
                                   u"[作業環境]\r\n"
                                   u"  基本データベース  =   D:\\新しい.mdb\r\n"
                                   u"; スプラッシュの表示時間はミリ秒\r\n"
                                   u"スプラッシュ画像表示時間=1000\r\n"
                                   u"グリッドタイトル=主題図\r\n"
                                   u"\r\n"
                                   u"[ frmMain ]\r\n"
                                   u"Top=10\r\n"
                                   u"left = -8\r\n"
                                   u"Width=640\r\n"
                                   u"\r\n"
                                   u";end\r\n"
                                   u"\r\n"
                                   u"[その他]\r\n"
                                   u"キー=値\r\n"));
}

struct LineEndCase {
  const char* description;
  std::u16string before;
  std::u16string section;
  std::u16string key;
  std::u16string after;
};

const LineEndCase kLineEndCases[] = {
    {"LF file gets LF lines", u"[s]\na=1\n", u"s", u"b", u"[s]\na=1\nb=v\n"},
    {"CR file gets CR lines", u"[s]\ra=1\r", u"s", u"b", u"[s]\ra=1\rb=v\r"},
    {"new section in LF file", u"[s]\na=1\n", u"t", u"b", u"[s]\na=1\n\n[t]\nb=v\n"},
    {"last line without line end", u"[s]\r\na=1", u"s", u"b", u"[s]\r\na=1\r\nb=v\r\n"},
    {"section header at the end", u"[s]", u"s", u"b", u"[s]\r\nb=v\r\n"},
    {"new section after blank line", u"[s]\na=1\n\n", u"t", u"b", u"[s]\na=1\n\n[t]\nb=v\n"},
    {"update keeps the line end", u"[s]\r\na=1\nb=2", u"s", u"a", u"[s]\r\na=v\nb=2"},
    {"update of the last line", u"[s]\r\na=1", u"s", u"a", u"[s]\r\na=v"},
    {"empty file", u"", u"s", u"a", u"[s]\r\na=v\r\n"},
    {"lone CR before an LF line", u"x\r[s]\na=1\n\n", u"s", u"b", u"x\r[s]\na=1\nb=v\r\n\n"},
};

TEST(ProfileTest, AddedLinesFollowTheFilesLineEnds) {
  for (const LineEndCase& c : kLineEndCases) {
    const std::string after =
        platform::WriteProfileStringToBytes(Cp932(c.before), c.section, c.key, u"v");
    EXPECT_EQ(after, Cp932(c.after)) << c.description;
  }
}

TEST(ProfileTest, LongValueIsStoredWholeAndReadBackCut) {
  TempDir dir;
  const fs::path file = dir.path() / "long.ini";
  std::u16string value;
  for (int i = 0; i < 3000; ++i) value.push_back(static_cast<char16_t>(u'あ' + i % 80));
  platform::WriteProfileString(file, u"作業環境", u"グリッドタイトル", value);
  EXPECT_NE(ReadBytes(file).find(Cp932(value)), std::string::npos);
  const std::u16string read = Read(file, u"作業環境", u"グリッドタイトル");
  EXPECT_EQ(read.size(), 2047u);
  EXPECT_EQ(read, value.substr(0, 2047));
}

TEST(ProfileTest, CutNeverLeavesHalfASurrogatePair) {
  std::u16string value(2046, u'a');
  value += u"𠮷𠮷";
  const std::string bytes = platform::WriteProfileStringToBytes(Utf16File(u""), u"s", u"k", value);
  EXPECT_EQ(platform::ReadProfileStringFromBytes(bytes, u"s", u"k", u""),
            std::u16string(2046, u'a'));
}

TEST(ProfileTest, LineBreaksInAValueCannotAddLines) {
  const std::string bytes = platform::WriteProfileStringToBytes("", u"s", u"k", u"a\r\n[t]\r\nx=1");
  EXPECT_EQ(bytes, "[s]\r\nk=a  [t]  x=1\r\n");
  EXPECT_EQ(platform::ReadProfileStringFromBytes(bytes, u"t", u"x", u"none"), u"none");
}

TEST(ProfileTest, NamesTheFileCannotHoldAreRefused) {
  TempDir dir;
  const fs::path file = dir.path() / "names.ini";
  WriteBytes(file, "[s]\r\nk=1\r\n");
  for (const std::u16string_view key : {u"a=b", u"[x]", u"a\nb"}) {
    try {
      platform::WriteProfileString(file, u"s", key, u"v");
      ADD_FAILURE() << base::ToUtf8(key) << " was written";
    } catch (const platform::Error& error) {
      EXPECT_EQ(error.message(), platform::FromPath(file) + u" に書き込めません");
    }
  }
  EXPECT_THROW(platform::WriteProfileString(file, u"a\rb", u"k", u"v"), platform::Error);
  EXPECT_EQ(ReadBytes(file), "[s]\r\nk=1\r\n");
}

// --- Damaged files
// --------------------------------------------------------------------------------

struct DamagedCase {
  const char* description;
  std::string bytes;
  std::u16string section;
  std::u16string key;
  std::u16string expected;
};

const DamagedCase kDamagedCases[] = {
    {"invalid code page 932 bytes", "[s]\r\nk=a\x81 b\x85\x40\r\n", u"s", u"k", u"a\u30FB b\u30FB"},
    {"lead byte before the line end", "[s]\r\nk=a\x81\r\nj=2\r\n", u"s", u"j", u"2"},
    {"NUL bytes between lines", std::string("[s]\r\n\0\0\0\r\nk=1\r\n", 15), u"s", u"k", u"1"},
    {"NUL bytes in a name", std::string("[s\0]\r\nk=1\r\n", 11), u"s", u"k", u"<default>"},
    {"odd byte count", Utf16File(u"[s]\r\nk=v\r\nj=w").append("\x41"), u"s", u"j", u"w\uFFFD"},
    {"odd byte count, other key", Utf16File(u"[s]\r\nk=v\r\nj=w").append("\x41"), u"s", u"k", u"v"},
    {"lone surrogates", Utf16File(std::u16string(u"[s]\r\nk=a\xD800z\xDC00\r\n")), u"s", u"k",
     u"a\uFFFDz\uFFFD"},
    {"byte-order mark only", "\xFF\xFE", u"s", u"k", u"<default>"},
    {"byte-order mark and one byte", "\xFF\xFE\x5B", u"s", u"k", u"<default>"},
    {"UTF-8 file read as code page 932", "\xEF\xBB\xBF[s]\r\nk=1\r\n[t]\r\nk=2\r\n", u"t", u"k",
     u"2"},
};

TEST(ProfileTest, DamagedFilesReadWhatCanBeDecoded) {
  for (const DamagedCase& c : kDamagedCases) {
    EXPECT_EQ(
        base::ToUtf8(platform::ReadProfileStringFromBytes(c.bytes, c.section, c.key, u"<default>")),
        base::ToUtf8(c.expected))
        << c.description;
  }
}

TEST(ProfileTest, WritesIntoDamagedFilesKeepTheOtherBytes) {
  for (const DamagedCase& c : kDamagedCases) {
    const std::string after = platform::WriteProfileStringToBytes(c.bytes, u"s", u"new", u"値");
    EXPECT_EQ(platform::ReadProfileStringFromBytes(after, u"s", u"new", u""), u"値")
        << c.description;
    EXPECT_EQ(platform::ReadProfileStringFromBytes(after, c.section, c.key, u"<default>"),
              platform::ReadProfileStringFromBytes(c.bytes, c.section, c.key, u"<default>"))
        << c.description;
  }
}

TEST(ProfileTest, UpdateInDamagedCodePage932LineKeepsItsNeighbours) {
  const std::string before = "[s]\r\n\x81=x\r\nk=\x81\xFF\r\n\xFF\xFE=y\r\n";
  const std::string after = platform::WriteProfileStringToBytes(before, u"s", u"k", u"ok");
  EXPECT_EQ(after, "[s]\r\n\x81=x\r\nk=ok\r\n\xFF\xFE=y\r\n");
}

TEST(ProfileTest, FiftyMegabyteLine) {
  TempDir dir;
  const fs::path file = dir.path() / "big.ini";
  const size_t kSize = 50u << 20;
  std::string bytes = "[s]\r\nk=";
  bytes.append(kSize, 'a');
  bytes += "\r\nj=\x82\xA0\r\n";
  bytes.append(kSize / 10, '\xFF');  // and a long run of bytes that are not code page 932
  bytes += "\r\n";
  WriteBytes(file, bytes);
  EXPECT_EQ(Read(file, u"s", u"k"), std::u16string(2047, u'a'));
  EXPECT_EQ(Read(file, u"s", u"j"), u"あ");
  platform::WriteProfileString(file, u"s", u"j", u"い");
  EXPECT_EQ(Read(file, u"s", u"j"), u"い");
  EXPECT_EQ(fs::file_size(file), bytes.size());
}

TEST(ProfileTest, ManyShortLines) {
  std::string bytes = "[s]\n";
  for (int i = 0; i < 2000000; ++i) bytes += "\n";
  bytes += "k=1\n";
  EXPECT_EQ(platform::ReadProfileStringFromBytes(bytes, u"s", u"k", u""), u"1");
  const std::string after = platform::WriteProfileStringToBytes(bytes, u"s", u"k", u"2");
  EXPECT_EQ(after.size(), bytes.size());
}

// --- Failures and atomic saves ----------------------------------------------------------------

// Runs the write in a child process that has given up root, so that permission bits count;
// without root it runs in this process. Returns the error message, or "(written)".
std::u16string WriteAsOrdinaryUser(const fs::path& file) {
  auto attempt = [&]() -> std::u16string {
    try {
      platform::WriteProfileString(file, u"作業環境", u"グリッドタイトル", u"新");
      return u"(written)";
    } catch (const platform::Error& error) {
      return error.message();
    }
  };
#ifdef _WIN32
  // Windows has no superuser that the read-only attribute would not stop.
  return attempt();
#else
  if (::geteuid() != 0) return attempt();
  const fs::path answer = file.parent_path().parent_path() / "answer";
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) {
      ::_exit(3);
    }
    const std::string message = base::ToUtf8(attempt());
    const int fd = ::open(answer.c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0 || ::write(fd, message.data(), message.size()) < 0) ::_exit(4);
    ::close(fd);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return u"(child failed)";
  return base::FromUtf8(ReadBytes(answer));
#endif
}

struct UnwritableCase {
  const char* description;
  // Prepares `folder` (empty, writable by anyone) and returns the settings path to write to.
  std::function<fs::path(const fs::path& folder)> prepare;
  bool needs_ordinary_user;
  // A folder's read-only attribute does not stop writes on Windows.
  bool posix_only = false;
};

const std::string kOldContent = Cp932(u"[作業環境]\r\nグリッドタイトル=古い\r\n");

const UnwritableCase kUnwritableCases[] = {
    {"the path is a folder",
     [](const fs::path& folder) {
       fs::create_directory(folder / "settings.ini");
       WriteBytes(folder / "settings.ini" / "inside", kOldContent);
       return folder / "settings.ini";
     },
     false},
    {"the folder is a file",
     [](const fs::path& folder) {
       WriteBytes(folder / "notafolder", kOldContent);
       return folder / "notafolder" / "settings.ini";
     },
     false},
    {"the folder does not exist",
     [](const fs::path& folder) { return folder / "missing" / "settings.ini"; }, false},
    {"read-only file in a writable folder",
     [](const fs::path& folder) {
       WriteBytes(folder / "settings.ini", kOldContent);
       fs::permissions(folder / "settings.ini", fs::perms(0444));
       return folder / "settings.ini";
     },
     true},
    {"writable file in a read-only folder",
     [](const fs::path& folder) {
       WriteBytes(folder / "settings.ini", kOldContent);
       fs::permissions(folder / "settings.ini", fs::perms(0666));
       fs::permissions(folder, fs::perms(0555));
       return folder / "settings.ini";
     },
     true, true},
    {"new file in a read-only folder",
     [](const fs::path& folder) {
       fs::permissions(folder, fs::perms(0555));
       return folder / "settings.ini";
     },
     true, true},
};

// Every file below `folder` with its bytes, to show that nothing changed and no temporary file
// was left behind.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files[entry.path().string()] = ReadBytes(entry.path());
  }
  return files;
}

TEST(ProfileTest, UnwritableSettingsGiveTheErrorAndKeepTheOldFile) {
  for (const UnwritableCase& c : kUnwritableCases) {
    if (kWindows && c.posix_only) continue;
    TempDir dir;
    // The child drops root, so it needs to reach the folder and write the answer file.
    fs::permissions(dir.path(), fs::perms(0777));
    WriteBytes(dir.path() / "answer", "");
    fs::permissions(dir.path() / "answer", fs::perms(0666));
    const fs::path folder = dir.path() / "app";
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms(0777));
    const fs::path file = c.prepare(folder);
    const auto before = Snapshot(folder);

    const std::u16string message = c.needs_ordinary_user ? WriteAsOrdinaryUser(file) : [&] {
      try {
        platform::WriteProfileString(file, u"作業環境", u"グリッドタイトル", u"新");
        return std::u16string(u"(written)");
      } catch (const platform::Error& error) {
        return error.message();
      }
    }();
    EXPECT_EQ(base::ToUtf8(message), base::ToUtf8(platform::FromPath(file) + u" に書き込めません"))
        << c.description;
    EXPECT_EQ(Snapshot(folder), before) << c.description;
  }
}

TEST(ProfileTest, ImmutableFileGivesTheErrorEvenForRoot) {
  if (kWindows) GTEST_SKIP() << "chattr is Linux only";
  TempDir dir;
  const fs::path file = dir.path() / "settings.ini";
  WriteBytes(file, kOldContent);
  if (std::system(("chattr +i '" + file.string() + "' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "chattr +i is not available here";
  }
  try {
    platform::WriteProfileString(file, u"作業環境", u"グリッドタイトル", u"新");
    ADD_FAILURE() << "written";
  } catch (const platform::Error& error) {
    EXPECT_EQ(error.message(), platform::FromPath(file) + u" に書き込めません");
  }
  std::system(("chattr -i '" + file.string() + "'").c_str());
  EXPECT_EQ(ReadBytes(file), kOldContent);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(ProfileTest, SaveKeepsPermissionsFollowsLinksAndLeavesNoTemporaryFile) {
  if (kWindows) GTEST_SKIP() << "permission bits and symbolic links are POSIX only";
  TempDir dir;
  const fs::path real = dir.path() / "real.ini";
  const fs::path link = dir.path() / "link.ini";
  WriteBytes(real, kOldContent);
  fs::permissions(real, fs::perms(0640));
  fs::create_symlink(real, link);
  platform::WriteProfileString(link, u"作業環境", u"グリッドタイトル", u"新");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Read(real, u"作業環境", u"グリッドタイトル"), u"新");
  EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, fs::perms(0640));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(ProfileTest, NewFileGetsTheUsualPermissions) {
#ifdef _WIN32
  GTEST_SKIP() << "permission bits and the file-mode mask are POSIX only";
#else
  TempDir dir;
  const fs::path file = dir.path() / "new.ini";
  const mode_t old_mask = ::umask(022);
  platform::WriteProfileString(file, u"s", u"k", u"v");
  ::umask(old_mask);
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms(0644));
#endif
}

TEST(ProfileTest, ReaderNeverSeesAHalfWrittenFile) {
  if (kWindows) GTEST_SKIP() << "Windows' profile API writes in place; atomic saves are POSIX's";
  TempDir dir;
  const fs::path file = dir.path() / "atomic.ini";
  const std::u16string a(1500, u'a');
  const std::u16string b(1500, u'b');
  // Large enough that a plain rewrite would be seen half done.
  std::string padding = "[pad]\r\n";
  for (int i = 0; i < 20000; ++i) padding += "p" + std::to_string(i) + "=0123456789\r\n";
  WriteBytes(file, padding);
  platform::WriteProfileString(file, u"s", u"k", a);

  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!done) {
      const std::u16string value = Read(file, u"s", u"k");
      if (value != a && value != b) ++bad;
    }
  });
  for (int i = 0; i < 30; ++i) platform::WriteProfileString(file, u"s", u"k", i % 2 ? a : b);
  done = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
}

// --- Batches: one parse, the same bytes as one-key writes ---------------------------------------

struct BatchFile {
  const char* description;
  std::string bytes;
};

const BatchFile kBatchFiles[] = {
    {"empty", ""},
    {"CR LF", "[s]\r\nk=1\r\n\r\n[t]\r\nx=1\r\n"},
    {"LF", "[s]\nk=1\n[t]\nx=1\n"},
    {"lone CR", "[s]\rk=1\r[t]\rx=1\r"},
    {"mixed line ends", "[s]\r\nk=1\n[t]\rx=1\r\n"},
    {"no line end at the end", "[s]\nk=1"},
    {"a section line with no line end", "[s]"},
    {"comments", "; top\n[s]\n;k=2\n# k=3\nk = 1 \n; tail"},
    {"odd spacing", "  [ S ]  \n\t k \t=\t  v \n\n\n   \n"},
    {"duplicate sections and keys", "[s]\nk=1\n[t]\nx=1\n[S]\nk=2\nj=3\n[s]\nn=4\n"},
    {"keys before the first section", "k=0\nn=0\n[s]\nk=1\n"},
    {"empty section name", "[]\nk=e\n[s]\n"},
    {"ends with a blank line", "[s]\r\nk=1\r\n\r\n"},
    {"lone CR first, LF after the section", "[x]\r[s]\nk=1\n\n[t]\n"},
    {"garbage lines", "garbage\n[s\n=x\n[s]]\nk\n[s]\nk=\n"},
    {"quoted values", "[s]\nk=\"quoted\"\nn='one'\n"},
    {"code page 932",
     Cp932(u"[作業環境]\r\nグリッドタイトル=主題図\r\n基本データベース=C:\\データ\\基本.mdb\r\n"
           u"[ソ表]\r\nキー=値\r\n")},
    {"code page 932 without a line end", Cp932(u"[作業環境]\r\nクォルヴェルパス=ソ")},
    {"UTF-16LE", Utf16File(u"[作業環境]\r\nグリッドタイトル=𠮷野家\r\n[s]\r\nk=1\r\n")},
    {"UTF-16LE without a line end", Utf16File(u"[s]\nk=1")},
    {"UTF-16LE with a damaged last byte", Utf16File(u"[s]\nk=1") + "A"},
    {"UTF-16LE damaged after a section", Utf16File(u"[t]\n") + "A"},
    {"a NUL in a line", std::string("[s]\nk=a\0b\n", 11)},
    {"long value", "[s]\nk=" + std::string(5000, 'v') + "\n"},
};

struct BatchWrite {
  std::u16string_view section;
  std::u16string_view key;
  std::u16string_view value;
};

// Updates, additions to existing and new sections, names differing only in case, names that
// cannot be stored (refused, leaving the content as it was), values with line breaks.
const BatchWrite kBatchWrites[] = {
    {u"s", u"k", u"new"},
    {u"s", u"k", u"again"},
    {u"s", u"n", u"added"},
    {u"S", u"N", u"case"},
    {u"t", u"x", u"t-new"},
    {u"作業環境", u"グリッドタイトル", u"新しい題"},
    {u"新しい節", u"キー", u"値"},
    {u"", u"k", u"empty section"},
    {u"s", u"k", u"two\r\nlines"},
    {u"s", u"bad=key", u"x"},
    {u"u", u"a", u"1"},
    {u"u", u"b", u"2"},
    {u"s", u"j", u""},
    {u" s ", u" k ", u"  blanks  "},
    {u"u", u"[k", u"x"},
    {u"x", u"k", u"after the first"},
    {u"s", u"k", u"𠮷"},
    {u"t", u"x", u"last"},
};

const std::u16string_view kBatchReadSections[] = {u"s", u"t", u"u", u"", u"作業環境", u"新しい節"};
const std::u16string_view kBatchReadKeys[] = {
    u"k", u"n", u"x", u"j", u"a", u"キー", u"グリッドタイトル"};

TEST(ProfileBatch, SameBytesAndReadsAsOneKeyWrites) {
  for (const BatchFile& file : kBatchFiles) {
    SCOPED_TRACE(file.description);
    std::string one_by_one = file.bytes;
    platform::Profile profile(file.bytes);
    for (const BatchWrite& write : kBatchWrites) {
      SCOPED_TRACE(base::ToUtf8(std::u16string(write.section) + u"/" + std::u16string(write.key)));
      bool refused = false;
      try {
        one_by_one =
            platform::WriteProfileStringToBytes(one_by_one, write.section, write.key, write.value);
      } catch (const std::invalid_argument&) {
        refused = true;
      }
      if (refused) {
        EXPECT_THROW(profile.Write(write.section, write.key, write.value), std::invalid_argument);
      } else {
        profile.Write(write.section, write.key, write.value);
      }
      ASSERT_EQ(ToHex(profile.Bytes()), ToHex(one_by_one));
      for (const std::u16string_view section : kBatchReadSections) {
        for (const std::u16string_view key : kBatchReadKeys) {
          EXPECT_EQ(profile.Read(section, key, u"<default>"),
                    platform::ReadProfileStringFromBytes(one_by_one, section, key, u"<default>"));
        }
      }
    }
  }
}

TEST(ProfileBatch, FileBatchWritesLikeOneKeyWrites) {
  TempDir dir;
  for (const BatchFile& file : kBatchFiles) {
    SCOPED_TRACE(file.description);
    const fs::path batch = dir.path() / "batch.ini";
    const fs::path single = dir.path() / "single.ini";
    WriteBytes(batch, file.bytes);
    WriteBytes(single, file.bytes);
    std::vector<platform::ProfileEntry> entries;
    for (const BatchWrite& write : kBatchWrites) {
      if (write.key.find(u'=') != std::u16string_view::npos || write.key.starts_with(u"[")) {
        continue;
      }
      entries.push_back({write.section, write.key, write.value});
      platform::WriteProfileString(single, write.section, write.key, write.value);
    }
    platform::WriteProfileStrings(batch, entries);
    EXPECT_EQ(ToHex(ReadBytes(batch)), ToHex(ReadBytes(single)));
    EXPECT_EQ(platform::LoadProfile(batch).Read(u"s", u"k", u""), Read(single, u"s", u"k"));
  }
}

TEST(ProfileBatch, AKeyThatCannotBeStoredEndsTheBatchAfterTheKeysBeforeIt) {
  TempDir dir;
  const fs::path file = dir.path() / "settings.ini";
  WriteBytes(file, kOldContent);
  const platform::ProfileEntry entries[] = {{u"作業環境", u"グリッドタイトル", u"新"},
                                            {u"作業環境", u"a=b", u"x"},
                                            {u"作業環境", u"後", u"y"}};
  EXPECT_THROW(platform::WriteProfileStrings(file, entries), platform::Error);
  // One-key writes would have stored the first key and stopped at the second.
  EXPECT_EQ(ReadBytes(file), platform::WriteProfileStringToBytes(kOldContent, u"作業環境",
                                                                 u"グリッドタイトル", u"新"));

  // A refused first key leaves the file as it was.
  WriteBytes(file, kOldContent);
  EXPECT_THROW(platform::WriteProfileStrings(file, std::span(entries + 1, 2)), platform::Error);
  EXPECT_EQ(ReadBytes(file), kOldContent);
}

// A process saving settings is killed at random moments (a fixed seed, a bounded number of
// rounds). The file must then hold the old or the new content whole, never a mixture or a
// part; temporary files left by a killed save are removed here (start-up removes them in the
// program).
TEST(ProfileBatch, KilledSavesLeaveTheOldOrTheNewContent) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows' profile API writes in place; atomic saves are POSIX's";
#else
  TempDir dir;
  const fs::path file = dir.path() / "settings.ini";
  // Large enough that a kill often falls inside a save.
  std::string base = Cp932(u"[作業環境]\r\nグリッドタイトル=主題図\r\n[履歴]\r\n");
  for (int i = 0; i < 20000; ++i) base += "key" + std::to_string(i) + "=value\r\n";
  auto content = [&](std::u16string_view value) {
    platform::Profile profile(base);
    profile.Write(u"作業環境", u"グリッドタイトル", value);
    profile.Write(u"frmMain", u"Width", value);
    return profile.Bytes();
  };
  const std::string old_content = content(u"古い");
  const std::string new_content = content(u"新しい値");
  std::mt19937 random(20261210);
  std::uniform_int_distribution<int> delay_us(0, 30000);
  int killed_while_running = 0;
  for (int round = 0; round < 40; ++round) {
    WriteBytes(file, old_content);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Saves the two contents in turn until killed.
      for (int i = 0;; ++i) {
        const std::u16string_view value = i % 2 == 0 ? u"新しい値" : u"古い";
        const platform::ProfileEntry entries[] = {{u"作業環境", u"グリッドタイトル", value},
                                                  {u"frmMain", u"Width", value}};
        try {
          platform::WriteProfileStrings(file, entries);
        } catch (...) {
          ::_exit(5);
        }
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child ended by itself, status " << status;
    ++killed_while_running;
    const std::string now = ReadBytes(file);
    ASSERT_TRUE(now == old_content || now == new_content)
        << "round " << round << ": " << now.size() << " bytes, neither old nor new content";
    // What the killed save left is removed as the next start removes it.
    platform::RemoveStaleTemporaries(file);
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      EXPECT_EQ(entry.path(), file) << "round " << round << ": left over";
    }
  }
  EXPECT_EQ(killed_while_running, 40);
#endif
}

}  // namespace

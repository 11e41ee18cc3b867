// Time of LIKE matching on the patterns a keyword box lets anyone type: long character lists
// and long runs of "[" that are never closed, each compiled once and matched as the keyword
// query does it (one compiled pattern, every row's text).
//
//   jet_like_bench [ROWS]
//
// Prints one line per case: the pattern's shape, rows, and seconds (compile and match), each
// the median of 5 runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/utf.h"
#include "jet/sql.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Titles like the project table's: Japanese and ASCII, about 30 characters.
std::vector<std::u16string> Titles(int rows) {
  std::vector<std::u16string> out;
  out.reserve(static_cast<size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    out.push_back(u"東京都 道路台帳 Survey project " + base::FromUtf8(std::to_string(i)));
  }
  return out;
}

// "%[...]%" with `members` Hangul syllables in the list (repeating after 11,000), none of
// them in the titles, so every character of every title is looked up and refused.
std::u16string ListPattern(int members) {
  std::u16string pattern = u"%[";
  for (int i = 0; i < members; ++i) pattern.push_back(static_cast<char16_t>(0xAC00 + i % 11000));
  return pattern + u"]%";
}

// "%[[[…[%": `count` opening brackets that are never closed.
std::u16string UnclosedPattern(int count) {
  return u"%" + std::u16string(static_cast<size_t>(count), u'[') + u"%";
}

constexpr int kRuns = 5;

double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  const size_t middle = times.size() / 2;
  return times.size() % 2 == 1 ? times[middle] : (times[middle - 1] + times[middle]) / 2;
}

void Run(const char* what, const std::u16string& pattern, const std::vector<std::u16string>& rows) {
  std::vector<double> compile_times;
  std::vector<double> match_times;
  size_t hits = 0;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = Clock::now();
    const jet::sql::LikePattern compiled(pattern);
    compile_times.push_back(Seconds(start));
    const auto match_start = Clock::now();
    hits = 0;
    for (const auto& text : rows) {
      if (compiled.Matches(text)) ++hits;
    }
    match_times.push_back(Seconds(match_start));
  }
  std::printf("%-34s rows %7zu  compile %8.4f s  match %8.4f s  hits %zu\n", what, rows.size(),
              Median(compile_times), Median(match_times), hits);
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::vector<std::u16string> titles = Titles(rows);
  const std::vector<std::u16string> one = Titles(1);
  Run("list of 1,000 characters", ListPattern(1000), titles);
  Run("list of 3,000 characters", ListPattern(3000), titles);
  Run("list of 32,000 characters", ListPattern(32000), titles);
  Run("100,000 unclosed [ (one row)", UnclosedPattern(100000), one);
  Run("200,000 unclosed [ (one row)", UnclosedPattern(200000), one);
  Run(
      "10,000 lists [a-z] then %",
      [] {
        std::u16string p;
        for (int i = 0; i < 10000; ++i) p += u"%[a-z]";
        return p;
      }(),
      one);
  return 0;
}

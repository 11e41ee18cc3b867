#include "project_table.h"

#include <array>
#include <cstdio>

#include "base/utf.h"
#include "jet/jet.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace bench {

namespace {

void OpenFile(jet::Connection& connection, const std::filesystem::path& file) {
  connection.SetConnectionString(u"Data Source=" + base::FromUtf8(file.string()));
  connection.Open();
}

}  // namespace

void WriteProjectTable(const std::filesystem::path& file, int64_t rows) {
  std::filesystem::remove(file);
  jet::CreateDatabase(file);
  jet::Connection connection;
  OpenFile(connection, file);
  connection.Execute(
      u"CREATE TABLE T_projectMain (ID LONG CONSTRAINT PrimaryKey PRIMARY KEY, "
      u"TITLE TEXT(255), FILENAME TEXT(255), PASSWORD TEXT(255))");
  static constexpr std::array<std::u16string_view, 8> kPlaces = {
      u"札幌市 都市計画図", u"仙台市 道路台帳", u"東京都 河川区域", u"横浜市 下水道管路",
      u"Nagoya parcels",    u"京都府 森林簿",   u"大阪市 地番図",   u"Fukuoka survey"};
  connection.BeginTrans();
  for (int64_t id = 1; id <= rows; ++id) {
    const std::u16string n = base::FromUtf8(std::to_string(id));
    const std::u16string_view place = kPlaces[static_cast<size_t>(id) % kPlaces.size()];
    connection.Execute(u"INSERT INTO T_projectMain VALUES (" + n + u", \"" + std::u16string(place) +
                       u" 第" + n + u"版\", \"/data/gis/p" + n + u"/project.qvp\", \"" +
                       (id % 7 == 0 ? u"key" + n : u"") + u"\")");
  }
  connection.CommitTrans();
}

void EnsureProjectTable(const std::filesystem::path& file, int64_t rows) {
  if (std::filesystem::exists(file)) {
    try {
      jet::Connection connection;
      OpenFile(connection, file);
      jet::Dataset dataset(&connection);
      dataset.SetCommandText(u"SELECT * FROM T_projectMain");
      dataset.Open();
      if (dataset.record_count() == rows) return;
    } catch (const std::exception&) {
    }
  }
  std::fprintf(stderr, "writing %lld projects into %s\n", static_cast<long long>(rows),
               file.c_str());
  WriteProjectTable(file, rows);
}

void WriteBenchSettings(const std::filesystem::path& directory,
                        const std::filesystem::path& database) {
  const std::filesystem::path settings = directory / "ProjectQuorvel.ini";
  std::filesystem::remove(settings);
  platform::WriteProfileString(settings, u"作業環境", u"基本データベース",
                               platform::FromPath(database));
  platform::WriteProfileString(settings, u"作業環境", u"スプラッシュ画像表示時間", u"0");
}

}  // namespace bench

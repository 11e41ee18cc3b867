// Reading FILENAME and PASSWORD of the current row from a real basic database.
#include <gtest/gtest.h>

#include "gis/project_row.h"
#include "jet/jet.h"

namespace {

class ProjectRowTest : public testing::Test {
 protected:
  void SetUp() override {
    connection_.SetConnectionString(
        u"Provider=Microsoft.Jet.OLEDB.4.0;Data "
        u"Source=" QUORVEL_FIXTURES_DIR_U u"/jet4/generated-jackcess-T_projectMain-1000.mdb");
    connection_.Open();
    dataset_.SetConnection(&connection_);
  }
  void Query(std::u16string sql) {
    dataset_.Close();
    dataset_.SetCommandText(std::move(sql));
    dataset_.Open();
  }
  jet::Connection connection_;
  jet::Dataset dataset_;
};

TEST_F(ProjectRowTest, TextAsStoredAndNullAsEmpty) {
  Query(u"SELECT * FROM T_projectMain ORDER BY ID");
  int nulls = 0, texts = 0;
  for (dataset_.First(); !dataset_.eof(); dataset_.Next()) {
    for (const auto field : {gis::kFileNameField, gis::kPasswordField}) {
      const jet::Value& value = dataset_.FieldByName(field);
      if (value.is_null()) {
        EXPECT_EQ(gis::CurrentRowText(dataset_, field), u"");
        ++nulls;
      } else {
        EXPECT_EQ(gis::CurrentRowText(dataset_, field), value.text());
        ++texts;
      }
    }
  }
  EXPECT_GT(nulls, 0);
  EXPECT_GT(texts, 0);
}

TEST_F(ProjectRowTest, NoCurrentRowOrClosedDatasetReadsEmpty) {
  Query(u"SELECT * FROM T_projectMain WHERE ID < 0");
  EXPECT_EQ(gis::CurrentRowText(dataset_, gis::kFileNameField), u"");
  EXPECT_EQ(gis::CurrentRowText(dataset_, gis::kPasswordField), u"");
  dataset_.Close();
  EXPECT_EQ(gis::CurrentRowText(dataset_, gis::kFileNameField), u"");
}

TEST_F(ProjectRowTest, MissingFieldRaisesTheDataLayerError) {
  Query(u"SELECT * FROM T_projectMain");
  EXPECT_THROW(gis::CurrentRowText(dataset_, u"FILE_NAME"), jet::Error);
  Query(u"SELECT * FROM T_projectMain WHERE ID < 0");
  EXPECT_THROW(gis::CurrentRowText(dataset_, u"PASS"), jet::Error);
}

}  // namespace

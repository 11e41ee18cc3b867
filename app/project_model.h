// The project grid's data source: one column over the field TITLE of the project dataset.
// Each row's tooltip gives the full title and the project file's path; a row whose file is
// missing is drawn grey with a warning mark (the check runs on a worker thread).
#ifndef QUORVEL_APP_PROJECT_MODEL_H_
#define QUORVEL_APP_PROJECT_MODEL_H_

#include <QAbstractTableModel>
#include <QString>

#include "app/file_presence.h"
#include "jet/jet.h"

namespace app {

class ProjectTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ProjectTableModel(jet::Dataset* dataset, QObject* parent = nullptr,
                             FilePresence::Check check_file = {});

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  // Section 0 of the horizontal header takes the column caption.
  bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                     int role = Qt::EditRole) override;

  // The dataset's current row, 0-based, marked in the row indicator; -1 for none.
  void SetCurrentRow(int row);
  int current_row() const { return current_row_; }

  // The text a row's tooltip ends with when its project file is missing.
  static QString MissingMark();

  // Brackets a change of the dataset (a requery): the views forget the old rows at the
  // start and read the new ones at the end, also when the requery fails.
  class ResetScope {
   public:
    explicit ResetScope(ProjectTableModel* model);
    ~ResetScope();
    ResetScope(const ResetScope&) = delete;
    ResetScope& operator=(const ResetScope&) = delete;

   private:
    ProjectTableModel* model_;
  };

 private:
  void Refresh();
  // The tooltip, foreground and decoration of a row, from its TITLE and FILENAME.
  QVariant RowMarks(int row, int role) const;

  jet::Dataset* dataset_;
  QString title_ = QStringLiteral("名前");
  int title_field_ = -1;
  int rows_ = 0;
  int current_row_ = -1;
  // Mutable: data() asks it, which queues checks but never changes what the model shows.
  mutable FilePresence presence_;
};

}  // namespace app

#endif  // QUORVEL_APP_PROJECT_MODEL_H_

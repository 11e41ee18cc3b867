#include "app/project_model.h"

#include <QApplication>
#include <QBrush>
#include <QIcon>
#include <QPalette>
#include <QStyle>
#include <limits>

#include "ui/qt_text.h"

namespace app {

ProjectTableModel::ProjectTableModel(jet::Dataset* dataset, QObject* parent,
                                     FilePresence::Check check_file)
    : QAbstractTableModel(parent), dataset_(dataset), presence_(std::move(check_file)) {
  Refresh();
  // An answer may change any row showing that path; the views repaint only what is visible.
  connect(&presence_, &FilePresence::Answered, this, [this] {
    if (rows_ > 0) {
      emit dataChanged(index(0, 0), index(rows_ - 1, 0),
                       {Qt::ToolTipRole, Qt::ForegroundRole, Qt::DecorationRole});
    }
  });
}

void ProjectTableModel::Refresh() {
  if (dataset_ != nullptr && dataset_->active()) {
    title_field_ = dataset_->FieldIndex(u"TITLE");
    const int64_t count = dataset_->record_count();
    rows_ = static_cast<int>(std::min<int64_t>(count, std::numeric_limits<int>::max()));
  } else {
    title_field_ = -1;
    rows_ = 0;
  }
  if (current_row_ >= rows_) current_row_ = -1;
}

int ProjectTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int ProjectTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 1;
}

QVariant ProjectTableModel::data(const QModelIndex& index, int role) const {
  if (role == Qt::ToolTipRole || role == Qt::ForegroundRole || role == Qt::DecorationRole) {
    if (!index.isValid() || index.column() != 0) return QVariant();
    return RowMarks(index.row(), role);
  }
  if (role != Qt::DisplayRole || !index.isValid() || index.column() != 0) return QVariant();
  // The dataset may have changed under a view that has not been told yet; never read past
  // what it holds now.
  if (dataset_ == nullptr || !dataset_->active() || title_field_ < 0 ||
      index.row() >= dataset_->record_count() ||
      title_field_ >= static_cast<int>(dataset_->fields().size())) {
    return QVariant();
  }
  try {
    return ui::ToQString(dataset_->ValueAt(index.row(), title_field_).ToDisplayText());
  } catch (const std::exception&) {
    return QVariant();
  }
}

QString ProjectTableModel::MissingMark() { return QStringLiteral("（見つかりません）"); }

QVariant ProjectTableModel::RowMarks(int row, int role) const {
  if (dataset_ == nullptr || !dataset_->active() || row >= dataset_->record_count()) {
    return QVariant();
  }
  const int fields = static_cast<int>(dataset_->fields().size());
  const int filename_field = dataset_->FieldIndex(u"FILENAME");
  if (filename_field < 0 || filename_field >= fields) return QVariant();
  std::u16string path;
  try {
    path = dataset_->ValueAt(row, filename_field).ToDisplayText();
  } catch (const std::exception&) {
    return QVariant();
  }
  // An empty path names no file: it is missing without asking the disk.
  const std::optional<bool> exists = path.empty() ? false : presence_.Exists(path);
  const bool missing = exists.has_value() && !*exists;
  switch (role) {
    case Qt::ToolTipRole: {
      QString title;
      if (title_field_ >= 0 && title_field_ < fields) {
        try {
          title = ui::ToQString(dataset_->ValueAt(row, title_field_).ToDisplayText());
        } catch (const std::exception&) {
        }
      }
      QString tip = title + QLatin1Char('\n') + ui::ToQString(path);
      if (missing) tip += MissingMark();
      return tip;
    }
    case Qt::ForegroundRole:
      if (!missing) return QVariant();
      return QBrush(QApplication::palette().color(QPalette::Disabled, QPalette::Text));
    case Qt::DecorationRole:
      if (!missing) return QVariant();
      return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    default:
      return QVariant();
  }
}

QVariant ProjectTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal) {
    if (role == Qt::DisplayRole && section == 0) return title_;
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
    return QVariant();
  }
  if (role == Qt::DisplayRole) {
    return section == current_row_ ? QStringLiteral("▶") : QString();
  }
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignCenter);
  return QVariant();
}

bool ProjectTableModel::setHeaderData(int section, Qt::Orientation orientation,
                                      const QVariant& value, int role) {
  if (orientation != Qt::Horizontal || section != 0 ||
      (role != Qt::EditRole && role != Qt::DisplayRole)) {
    return false;
  }
  title_ = value.toString();
  emit headerDataChanged(Qt::Horizontal, 0, 0);
  return true;
}

void ProjectTableModel::SetCurrentRow(int row) {
  if (row >= rows_) row = -1;
  const int old = current_row_;
  current_row_ = row;
  if (old >= 0) emit headerDataChanged(Qt::Vertical, old, old);
  if (row >= 0) emit headerDataChanged(Qt::Vertical, row, row);
}

ProjectTableModel::ResetScope::ResetScope(ProjectTableModel* model) : model_(model) {
  model_->beginResetModel();
}

ProjectTableModel::ResetScope::~ResetScope() {
  // Files may have come or gone since the last list: ask the disk again.
  model_->presence_.MarkStale();
  model_->Refresh();
  model_->endResetModel();
}

}  // namespace app

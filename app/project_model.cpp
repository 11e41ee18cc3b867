#include "app/project_model.h"

#include <limits>

#include "ui/qt_text.h"

namespace app {

ProjectTableModel::ProjectTableModel(jet::Dataset* dataset, QObject* parent)
    : QAbstractTableModel(parent), dataset_(dataset) {
  Refresh();
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
  model_->Refresh();
  model_->endResetModel();
}

}  // namespace app

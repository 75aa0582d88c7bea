#include "ui/EepromGridModel.h"

#include "i2c/eeprom_page.h"

EepromGridModel::EepromGridModel(const vardel::EepromPage& page, QObject* parent)
    : QAbstractTableModel(parent), page_(page), rows_(page.ChipSize / 8),
      shown_(page.EepromImage.begin(), page.EepromImage.begin() + page.ChipSize)
{
}

int EepromGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int EepromGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : vardel::kGridColumns;
}

QVariant EepromGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromStdString(
            vardel::GridCellText(shown_.data(), index.row(), index.column()));
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    return {};
}

void EepromGridModel::refresh()
{
    beginResetModel();
    rows_ = page_.ChipSize / 8;
    shown_.assign(page_.EepromImage.begin(), page_.EepromImage.begin() + page_.ChipSize);
    endResetModel();
}

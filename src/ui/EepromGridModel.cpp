#include "ui/EepromGridModel.h"

#include "i2c/eeprom_page.h"

#include <QColor>
#include <QFont>

#include <algorithm>

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
    const int address = addressOf(index);
    const auto at = std::lower_bound(differences_.begin(), differences_.end(), address);
    if (address < 0 || at == differences_.end() || *at != address)
        return {};
    // A differing byte: black on amber (well over 4.5:1), bold, and the chip's byte on hover.
    switch (role) {
    case Qt::BackgroundRole:
        return QColor(255, 200, 80);
    case Qt::ForegroundRole:
        return QColor(Qt::black);
    case Qt::FontRole: {
        QFont bold;
        bold.setBold(true);
        return bold;
    }
    case Qt::ToolTipRole:
        return QString::asprintf("0x%04X: file %02X, chip %02X", address, shown_[address],
                                 chip_[at - differences_.begin()]);
    default:
        return {};
    }
}

int EepromGridModel::addressOf(const QModelIndex& index)
{
    const int column = index.column();
    if (column < 1 || column > 16)
        return -1;
    return index.row() * 8 + (column - 1) % 8;
}

QModelIndex EepromGridModel::cellOf(int address) const
{
    return index(address / 8, 1 + address % 8);
}

void EepromGridModel::setDifferences(std::vector<int> addresses, std::vector<std::uint8_t> chip)
{
    differences_ = std::move(addresses);
    chip_ = std::move(chip);
    if (rows_ > 0)
        emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
}

void EepromGridModel::refresh()
{
    beginResetModel();
    rows_ = page_.ChipSize / 8;
    shown_.assign(page_.EepromImage.begin(), page_.EepromImage.begin() + page_.ChipSize);
    differences_.clear();
    chip_.clear();
    endResetModel();
}

#pragma once

#include <QAbstractTableModel>

#include <cstdint>
#include <vector>

namespace vardel {
class EepromPage;
}

// The hex grid's model: 17 columns over the EEPROM image, one row per 8 bytes of the chip. Cell
// texts are made when the view asks for them, so refreshing 64 KiB is a model reset, not 139,000
// cell writes. The model shows a copy of the image taken at each refresh: while a read fills the
// image, cells repainted meanwhile show the image as it was, never a mixture of old and new.
class EepromGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit EepromGridModel(const vardel::EepromPage& page, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Shows the image again, at the current ChipSize; the marks of a verify go with it.
    void refresh();

    // The bytes a verify found different from the chip, in address order, and the chip's byte at
    // each: their cells are marked, and their tool tips give the file's and the chip's byte.
    void setDifferences(std::vector<int> addresses, std::vector<std::uint8_t> chip);
    const std::vector<int>& differences() const { return differences_; }
    // The cell of a byte's hex column.
    QModelIndex cellOf(int address) const;
    // The address of a cell's byte (hex or character column), or -1 for the address column.
    static int addressOf(const QModelIndex& index);

private:
    const vardel::EepromPage& page_;
    int rows_ = 0;
    std::vector<std::uint8_t> shown_;
    std::vector<int> differences_;
    std::vector<std::uint8_t> chip_;
};

#include "Unit1.h"

#include "QtHost.h"
#include "avr/avr_page.h"
#include "avr/lock_fuse_editor.h"
#include "avr/part_bits.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>

#include <algorithm>

std::vector<TVentana::BitGroupView> TVentana::partGroups(const vardel::PartBits& bits)
{
    using Kind = vardel::BitsWrite::Kind;
    std::vector<vardel::PartBit> written = vardel::BitsWritten(bits, Kind::Fuses);
    for (const vardel::PartBit& b : vardel::BitsWritten(bits, Kind::Lock))
        written.push_back(b);
    std::vector<BitGroupView> groups;
    for (int byte = 0; byte < bits.byteCount(); ++byte) {
        if (!bits.mask(byte))
            continue;
        const QString byteName = QLatin1String(bits.byteName(byte));
        BitGroupView& group = groups.emplace_back();
        group.name = QStringLiteral("PartByte_") + byteName;
        group.title = byte == bits.lockByte() ? QStringLiteral("Lock Bits")
                                              : QStringLiteral("Fuse ") + byteName;
        for (int bit = 7; bit >= 0; --bit) {
            const char* name = bits.bitName(byte, bit);
            if (!name)
                continue;
            const QString caption = QLatin1String(name);
            BitBoxView& box = group.boxes.emplace_back();
            box.byte = byte;
            box.bit = bit;
            box.name = QStringLiteral("PartBit_") + caption;
            box.caption = caption;
            const char* description = bits.description(byte, bit);
            box.hint = description && *description ? QString::fromLatin1(description) : caption;
            box.state = QStringLiteral("PartState_") + caption;
            // As on the catalogue's pages: a bit that serial programming cannot change is shown
            // disabled, and one that ends serial programming in one of its states has a button
            // that releases its box after a warning.
            if (std::ranges::count(written, vardel::PartBit{byte, bit}) == 0) {
                box.enabled = false;
            } else if (bits.endsSerialProgramming({byte, bit}, true) ||
                       bits.endsSerialProgramming({byte, bit}, false)) {
                box.release = QStringLiteral("Enable %1 modification").arg(caption);
                box.releaseName = QStringLiteral("PartEnable_") + caption;
                box.enabled = false;
            }
        }
    }
    return groups;
}

void TVentana::mirrorPartPage()
{
    const vardel::AvrPart* part = tablePart();
    if (part && part != partShown_) {
        partShown_ = part;
        editor_->show(part);
        // The widgets of the part shown before go with their layout. (Deleting a child while
        // walking children() itself would skip every other one.)
        qDeleteAll(partPage_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
        delete partPage_->layout();
        partBoxes_.clear();

        auto* layout = new QGridLayout(partPage_);
        // Two groups to a row: four side by side do not fit beside the command columns on a
        // 1024-pixel screen or at 150 %.
        constexpr int kGroupsPerRow = 2;
        int shown = 0;
        for (const BitGroupView& view : partGroups(editor_->bits())) {
            auto* group = new QGroupBox(view.title, partPage_);
            group->setObjectName(view.name);
            auto* column = new QGridLayout(group);
            buildBitGroup(group, column, view);
            column->setRowStretch(column->rowCount(), 1);
            layout->addWidget(group, shown / kGroupsPerRow, shown % kGroupsPerRow);
            ++shown;
        }
        const int below = (shown + kGroupsPerRow - 1) / kGroupsPerRow;
        auto* preset = new QPushButton(QStringLiteral("factory default"), partPage_);
        preset->setObjectName(QStringLiteral("PartFactoryDefault"));
        preset->setToolTip(QStringLiteral("The fuse bits as the part leaves the factory"));
        connect(preset, &QPushButton::clicked, this, [this] {
            editor_->factoryDefault();
            mirrorPartPage();
        });
        layout->addWidget(preset, below, 0);
        layout->setRowStretch(below + 1, 1);
    }
    if (!part)
        return;
    for (const PartBox& b : partBoxes_) {
        const vardel::PartBit bit{b.byte, b.bit};
        const bool programmed = editor_->bits().programmed(bit);
        showBox(b.box, b.state, programmed, !b.fixed && (!b.guarded || editor_->released(bit)),
                programmed ? QStringLiteral("0 programmed") : QStringLiteral("1 unprogrammed"),
                chipBit(bit), bitCleared(bit));
    }
}

void TVentana::releasePartGuard(vardel::PartBit b)
{
    const std::string name = editor_->bits().bitName(b.byte, b.bit);
    const bool programmedEnds = editor_->bits().endsSerialProgramming(b, true);
    // Cancel is the default: Enter must not be the way into a chip only a high-voltage
    // programmer brings back.
    const auto answer = host_->MessageBox(
        name + (programmedEnds ? " programmed" : " unprogrammed") +
            " ends serial programming of the chip for good: it will no longer answer this "
            "programmer, and only a high-voltage programmer undoes it.\r"
            "Enable " +
            name + " modification - are you sure?",
        "WARNING", vardel::Host::Kind::Question, vardel::Host::Buttons::OkCancelDefaultCancel,
        vardel::Host::Icon::Exclamation);
    if (answer != vardel::Host::Result::Ok)
        return;
    editor_->releaseBit(b);
    mirrorPartPage();
}

void TVentana::partBoxClicked(int byte, int bit, bool programmed)
{
    editor_->setProgrammed({byte, bit}, programmed);
    mirrorPartPage();
}

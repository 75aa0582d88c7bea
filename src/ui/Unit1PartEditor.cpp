#include "Unit1.h"

#include "QtHost.h"
#include "avr/avr_page.h"
#include "avr/part_bits.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

QString StateText(bool programmed)
{
    return programmed ? QStringLiteral("0 programmed") : QStringLiteral("1 unprogrammed");
}

} // namespace

void TVentana::mirrorPartPage()
{
    const vardel::AvrPart* part = avr_->part();
    if (part && part != partShown_) {
        partShown_ = part;
        partBits_ = std::make_unique<vardel::PartBits>(*part);
        partLockoutAllowed_ = false;
        fillPartPage();
    }
    for (const PartBox& b : partBoxes_) {
        const bool programmed = partBits_->programmed({b.byte, b.bit});
        b.box->setChecked(programmed);
        b.state->setText(StateText(programmed));
    }
}

void TVentana::fillPartPage()
{
    // The widgets of the part shown before go with their layout.
    for (QObject* child : partPage_->children())
        if (child->isWidgetType())
            delete child;
    delete partPage_->layout();
    partBoxes_.clear();

    auto* layout = new QGridLayout(partPage_);
    const vardel::PartBits& bits = *partBits_;
    for (int byte = 0; byte < bits.byteCount(); ++byte) {
        if (!bits.mask(byte))
            continue;
        auto* group =
            new QGroupBox(byte == bits.lockByte()
                              ? QStringLiteral("Lock Bits")
                              : QStringLiteral("Fuse %1").arg(QLatin1String(bits.byteName(byte))),
                          partPage_);
        group->setObjectName(QStringLiteral("PartByte_%1").arg(QLatin1String(bits.byteName(byte))));
        auto* column = new QGridLayout(group);
        int row = 0;
        for (int bit = 7; bit >= 0; --bit) {
            const char* name = bits.bitName(byte, bit);
            if (!name)
                continue;
            auto* box = new QCheckBox(QString::fromLatin1(name), group);
            box->setObjectName(QStringLiteral("PartBit_%1").arg(QLatin1String(name)));
            const char* description = bits.description(byte, bit);
            box->setToolTip(QString::fromLatin1(description && *description ? description : name));
            auto* state = new QLabel(group);
            state->setObjectName(QStringLiteral("PartState_%1").arg(QLatin1String(name)));
            column->addWidget(box, row, 0);
            column->addWidget(state, row, 1);
            ++row;
            partBoxes_.push_back({box, state, byte, bit});
            connect(box, &QCheckBox::clicked, this,
                    [this, byte, bit](bool checked) { partBoxClicked(byte, bit, checked); });
        }
        column->setRowStretch(row, 1);
        layout->addWidget(group, 0, byte);
    }
    auto* preset = new QPushButton(QStringLiteral("factory default"), partPage_);
    preset->setObjectName(QStringLiteral("PartFactoryDefault"));
    preset->setToolTip(QStringLiteral("The fuse bits as the part leaves the factory"));
    connect(preset, &QPushButton::clicked, this, [this] {
        partBits_->factoryDefault();
        mirrorPartPage();
    });
    layout->addWidget(preset, 1, 0);
    layout->setRowStretch(2, 1);
}

void TVentana::partBoxClicked(int byte, int bit, bool programmed)
{
    const vardel::PartBit b{byte, bit};
    // A bit that ends serial programming asks first; Cancel is the default.
    if (partBits_->endsSerialProgramming(b, programmed)) {
        const std::string name = partBits_->bitName(byte, bit);
        const auto answer = host_->MessageBox(
            name + (programmed ? " programmed" : " unprogrammed") +
                " ends serial programming of the chip for good: only a high-voltage programmer "
                "undoes it.\rWrite it with \"Program Fuse Bits\" only if that is what you want.",
            "WARNING", vardel::Host::Buttons::OkCancelDefaultCancel,
            vardel::Host::Icon::Exclamation);
        if (answer != vardel::Host::Result::Ok) {
            mirrorPartPage();
            return;
        }
        partLockoutAllowed_ = true;
    }
    partBits_->setProgrammed(b, programmed);
    mirrorPartPage();
}

bool TVentana::runPartBits(bool fuses, bool program)
{
    const vardel::AvrPart* part = avr_->part();
    if (!part || avr_->model().Notebook1() != vardel::AvrPageModel::kPagePart || !partBits_)
        return false;
    runChipCommand([this, part, fuses, program] {
        vardel::PartBitsCommands commands(avr_->serial(), *part, *partBits_, *host_, operations_);
        commands.allowLockout = partLockoutAllowed_;
        using Kind = vardel::PartBitsCommands::Kind;
        const Kind kind = fuses ? Kind::Fuses : Kind::Lock;
        if (program)
            commands.program(kind);
        else
            commands.read(kind);
    });
    mirrorPartPage();
    return true;
}

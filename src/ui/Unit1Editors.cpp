// The lock- and fuse-bit editors of the AVR page: one check box per bit with its state label,
// built from the editor model's list of boxes, mirroring the model and forwarding clicks to it.
#include "ui/Unit1.h"

#include "avr/avr_page.h"
#include "avr/lock_fuse_commands.h"
#include "avr/lock_fuse_editor.h"
#include "avr/part_bits.h"
#include "ui/QtHost.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

using vardel::EditorSection;
using vardel::LockFuseEditor;

namespace {

QWidget* pageOf(QStackedWidget* notebook, const char* caption)
{
    for (int i = 0; i < notebook->count(); ++i)
        if (notebook->widget(i)->property("caption").toString() == QLatin1String(caption))
            return notebook->widget(i);
    return nullptr;
}

QPushButton* flatButton(const char* name, const char* caption, QWidget* parent)
{
    auto* b = new QPushButton(QString::fromLatin1(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setFlat(true);
    return b;
}

} // namespace

QWidget* TVentana::sectionWidget(EditorSection section)
{
    switch (section) {
    case EditorSection::Fuse128:
        return pageOf(Notebook2, "128");
    case EditorSection::Fuse163:
        return pageOf(Notebook2, "163");
    case EditorSection::Fuse161:
        return pageOf(Notebook2, "161");
    case EditorSection::Fuse103:
        return pageOf(Notebook2, "103");
    case EditorSection::FuseAT90S:
        return GroupBox4;
    case EditorSection::FuseATtiny:
        return GroupBox5;
    case EditorSection::LB128:
        return pageOf(Notebook3, "LB128");
    case EditorSection::LB103:
        return pageOf(Notebook3, "LB103");
    case EditorSection::LockAT90S:
        return GroupBox1;
    }
    return nullptr;
}

TVentana::BitGroupView TVentana::editorGroup(EditorSection section) const
{
    BitGroupView group;
    group.title = QString::fromLatin1(LockFuseEditor::Title(section));
    group.stateFirst = true;
    group.oneRow = section == EditorSection::LB128;
    for (const int n : LockFuseEditor::BoxesOf(section)) {
        const vardel::EditorBox& info = LockFuseEditor::Info(n);
        BitBoxView& box = group.boxes.emplace_back();
        box.editorBox = n;
        box.name = QStringLiteral("CheckBox%1").arg(n);
        box.caption = QString::fromStdString(vardel::CaptionOf(n, avr_->model()));
        box.hint = QString::fromUtf8(info.hint);
        if (info.label)
            box.state = QStringLiteral("Label%1").arg(info.label);
        box.column = QString::fromLatin1(info.column);
        box.enabled = info.enabled;
        box.stateEnabled = info.labelEnabled;
    }
    return group;
}

void TVentana::buildBitGroup(QWidget* parent, QGridLayout* grid, const BitGroupView& group)
{
    // Each column of boxes takes two grid columns, the box's and its state label's.
    const int boxColumn = group.stateFirst ? 1 : 0;
    QStringList columns;
    std::vector<int> rowsInColumn;
    for (const BitBoxView& view : group.boxes) {
        int column = static_cast<int>(columns.indexOf(view.column));
        if (column < 0) {
            column = static_cast<int>(columns.size());
            columns << view.column;
            rowsInColumn.push_back(view.column.isEmpty() ? 0 : 1);
            if (!view.column.isEmpty())
                grid->addWidget(new QLabel(view.column, parent), 0, 2 * column + boxColumn);
        }
        int& row = rowsInColumn[column];
        auto* box = new QCheckBox(view.caption, parent);
        box->setObjectName(view.name);
        if (!view.editorBox) {
            box->setProperty("byte", view.byte);
            box->setProperty("bit", view.bit);
        }
        box->setToolTip(view.hint);
        box->setProperty("hint", view.hint);
        box->setEnabled(view.enabled);
        QLabel* state = nullptr;
        if (!view.state.isEmpty()) {
            state = new QLabel(parent);
            state->setObjectName(view.state);
            state->setEnabled(view.stateEnabled);
        }
        if (group.oneRow) {
            grid->addWidget(box, 0, grid->columnCount());
        } else {
            grid->addWidget(box, row, 2 * column + boxColumn);
            if (state)
                grid->addWidget(state, row, 2 * column + 1 - boxColumn);
            ++row;
        }
        if (const int n = view.editorBox) {
            CheckBoxes[n] = box;
            StateLabels[n] = state;
            connect(box, &QCheckBox::clicked, this, [this, n](bool wanted) {
                editor_->click(n);
                mirrorEditorBox(n);
                // The AT90S lock group's rule sets a refused box back: the user is told why.
                if (editor_->checked(n) != wanted && n == LockFuseEditor::CheckBox2)
                    host_->StatusText("LB2 was not ticked: it can only be programmed together "
                                      "with LB1, tick LB1 first");
                else if (editor_->checked(n) != wanted && n == LockFuseEditor::CheckBox1)
                    host_->StatusText("LB1 stays ticked while LB2 is: clear LB2 first");
            });
            continue;
        }
        const int byte = view.byte;
        const int bit = view.bit;
        partBoxes_.push_back({box, state, byte, bit, !view.release.isEmpty(),
                              !view.enabled && view.release.isEmpty()});
        if (!view.release.isEmpty()) {
            // The box stays disabled until its button has been pressed and the warning answered
            // with OK.
            auto* release = new QPushButton(view.release, parent);
            release->setObjectName(view.releaseName);
            grid->addWidget(release, row++, 2 * column, 1, 2);
            connect(release, &QPushButton::clicked, this, [this, byte, bit] {
                releasePartGuard({byte, bit});
            });
        }
        connect(box, &QCheckBox::clicked, this,
                [this, byte, bit](bool checked) { partBoxClicked(byte, bit, checked); });
    }
}

void TVentana::buildEditors()
{
    editor_ = std::make_unique<LockFuseEditor>();
    lockFuse_ =
        std::make_unique<vardel::LockFuseCommands>(avr_->serial(), *editor_, *host_, operations_);
    CheckBoxes.fill(nullptr);
    StateLabels.fill(nullptr);

    for (const EditorSection section :
         {EditorSection::Fuse128, EditorSection::Fuse163, EditorSection::Fuse161,
          EditorSection::Fuse103, EditorSection::FuseAT90S, EditorSection::FuseATtiny,
          EditorSection::LB128, EditorSection::LB103, EditorSection::LockAT90S}) {
        QWidget* parent = sectionWidget(section);
        const BitGroupView group = editorGroup(section);
        auto* outer = new QVBoxLayout(parent);
        // The notebook pages carry their heading; the groups have it as their title.
        if (!qobject_cast<QGroupBox*>(parent)) {
            auto* title = new QLabel(group.title, parent);
            QFont bold = title->font();
            bold.setBold(true);
            title->setFont(bold);
            outer->addWidget(title);
        }
        auto* grid = new QGridLayout;
        outer->addLayout(grid);
        buildBitGroup(parent, grid, group);
        // The boxes keep to their labels; the room left goes to the right.
        grid->setColumnStretch(grid->columnCount(), 1);
        if (section == EditorSection::LockAT90S) {
            Memo1 = new QPlainTextEdit(parent);
            Memo1->setObjectName(QStringLiteral("Memo1"));
            // Read-only, not disabled: the text that warns of a locked chip must be readable.
            Memo1->setReadOnly(true);
            Memo1->setTabChangesFocus(true);
            Memo1->setMaximumHeight(70);
            outer->addWidget(Memo1);
        }
        if (section == EditorSection::FuseATtiny) {
            auto* calibration = new QHBoxLayout;
            calibration->addWidget(new QLabel(QStringLiteral("Calibration Byte"), parent));
            Label63 = new QLabel(parent);
            Label63->setObjectName(QStringLiteral("Label63"));
            calibration->addWidget(Label63);
            outer->addLayout(calibration);
            // The buttons that unlock a lock-out bit's box look like the buttons they are.
            SpeedButton4 = flatButton("SpeedButton4", "Enable SPIEN modification", parent);
            SpeedButton4->setFlat(false);
            connect(SpeedButton4, &QPushButton::clicked, this,
                    [this] { editor_->SpeedButton4Click(*host_); });
            outer->addWidget(SpeedButton4);
            SpeedButton5 = flatButton("SpeedButton5", "Enable RSTDISBL modification", parent);
            SpeedButton5->setFlat(false);
            connect(SpeedButton5, &QPushButton::clicked, this,
                    [this] { editor_->SpeedButton5Click(*host_); });
            outer->addWidget(SpeedButton5);
        }
        outer->addStretch(1);
    }

    // The presets of page "ATmega128", in a group that stays hidden.
    auto* presets = new QVBoxLayout(GroupBox3);
    SpeedButton1 = flatButton("SpeedButton1", "factory default", GroupBox3);
    SpeedButton1->setToolTip(QStringLiteral("Atmel default factory setting"));
    SpeedButton2 = flatButton("SpeedButton2", "Low Frequency", GroupBox3);
    SpeedButton3 = flatButton("SpeedButton3", "High Frequency", GroupBox3);
    connect(SpeedButton1, &QPushButton::clicked, this, [this] { editor_->SpeedButton1Click(); });
    connect(SpeedButton2, &QPushButton::clicked, this, [this] { editor_->SpeedButton2Click(); });
    connect(SpeedButton3, &QPushButton::clicked, this, [this] { editor_->SpeedButton3Click(); });
    for (QPushButton* b : {SpeedButton1, SpeedButton2, SpeedButton3})
        presets->addWidget(b);

    editor_->changed = [this](LockFuseEditor::Aspect aspect, int box) {
        if (box > 0)
            mirrorEditorBox(box);
        if (aspect == LockFuseEditor::Aspect::Memo || aspect == LockFuseEditor::Aspect::Calibration)
            showEditorNote();
    };
    for (int n = 1; n <= LockFuseEditor::kBoxCount; ++n)
        mirrorEditorBox(n);
    showEditorNote();
}

void TVentana::mirrorEditorBox(int n)
{
    QCheckBox* box = CheckBoxes[n];
    if (!box)
        return;
    box->setText(QString::fromStdString(vardel::CaptionOf(n, avr_->model())));
    showBox(box, StateLabels[n], editor_->checked(n), editor_->enabled(n),
            QString::fromStdString(editor_->label(n).value_or("")), chipBit(editor_->bitOf(n)),
            bitCleared(editor_->bitOf(n)));
}

bool TVentana::bitCleared(std::optional<vardel::PartBit> bit) const
{
    if (!bit || !editor_->shown() || chipBytes_[bit->byte])
        return false;
    // Lock bits the chip cannot report are written as the boxes show them: those are never read.
    return bit->byte == editor_->bits().lockByte() ? avr_->model().btnReadLockBitsEnabled()
                                                   : chipHasFuses();
}

void TVentana::showEditorNote()
{
    const vardel::PartBits& bits = editor_->bits();
    bool lock = false;
    bool fuses = false;
    for (int byte = 0; byte < bits.byteCount(); ++byte)
        if (bits.mask(byte) && bitCleared(vardel::PartBit{byte, 0}))
            (byte == bits.lockByte() ? lock : fuses) = true;
    const char* what = lock && fuses ? "lock and fuse bits" : lock ? "lock bits" : "fuse bits";
    const char* how = lock && fuses ? "\"Read Lock Bits\" and \"Read Fuse Bits\""
                      : lock        ? "\"Read Lock Bits\""
                                    : "\"Read Fuse Bits\"";
    QString note = QStringLiteral("The %1 of this chip have not been read: their boxes stay "
                                  "cleared until %2 reads them.")
                       .arg(QLatin1String(what), QLatin1String(how));
    // Why a chip with a lock bit programmed shows no lock.
    const bool lb2Alone = lb2Alone_ && !lock;
    if (lb2Alone)
        note = QString::fromLatin1(kLb2AloneNote);
    lbEditorNote->setText(note);
    lbEditorNote->setVisible(lock || fuses || lb2Alone);
    // The lock mode and the calibration byte are the chip's only once read.
    Memo1->setPlainText(lock ? QStringLiteral("Lock bits not read.")
                             : QString::fromStdString(editor_->Memo1()));
    Label63->setText(fuses ? QStringLiteral("??") : QString::fromStdString(editor_->Label63()));
}

void TVentana::showBox(QCheckBox* box, QLabel* state, bool programmed, bool enabled,
                       const QString& stateText, std::optional<bool> chip, bool cleared)
{
    const QSignalBlocker blocker(box);
    if (cleared) {
        box->setCheckState(Qt::PartiallyChecked);
    } else {
        box->setTristate(false);
        box->setChecked(programmed);
    }
    box->setEnabled(enabled && !cleared);
    if (state)
        state->setText(cleared ? QStringLiteral("?") : stateText);
    const bool changed = chip && *chip != programmed;
    QFont font = box->font();
    if (font.bold() != changed) {
        font.setBold(changed);
        box->setFont(font);
    }
    QString tip = box->property("hint").toString();
    if (changed)
        tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) +
               (*chip ? QStringLiteral("Changed: the chip holds 0 (programmed)")
                      : QStringLiteral("Changed: the chip holds 1 (unprogrammed)"));
    if (cleared)
        tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) +
               QStringLiteral("Not read from this chip");
    box->setToolTip(tip);
}

const vardel::AvrPart* TVentana::tablePart() const
{
    const vardel::AvrPart* part = avr_->identifiedPart();
    return part && vardel::EditorBoxesOf(*part).empty() ? part : nullptr;
}

std::optional<bool> TVentana::chipBit(std::optional<vardel::PartBit> bit) const
{
    if (!bit || !chipBytes_[bit->byte])
        return std::nullopt;
    return !(*chipBytes_[bit->byte] >> bit->bit & 1);
}

bool TVentana::chipHasFuses() const
{
    const vardel::AvrPart* part = editor_->shown();
    return part && !vardel::SerialBitsOf(*part).fuseWrites.empty();
}

void TVentana::setBitsRead(bool lock, bool fuses)
{
    lockRead_ = lock;
    fuseRead_ = fuses;
    if (!lock && !fuses) {
        chipBytes_.fill(std::nullopt);
        lb2Alone_ = false;
    }
    enableBitsWrites();
    showEditorBits();
}

void TVentana::enableBitsWrites()
{
    // A lock byte the chip cannot report is written unchecked, as it always was.
    const bool identified = editor_->shown() != nullptr;
    btnLockBits->setEnabled(lockRead_ || (identified && !avr_->model().btnReadLockBitsEnabled()));
    btnFuseBits->setEnabled(fuseRead_ && identified);
}

void TVentana::showEditorBits()
{
    for (int n = 1; n <= LockFuseEditor::kBoxCount; ++n)
        mirrorEditorBox(n);
    mirrorPartPage();
    showEditorNote();
}

void TVentana::chipBitsRead(bool fuses)
{
    const vardel::PartBits& bits = editor_->bits();
    for (int byte = 0; byte < bits.byteCount(); ++byte)
        if ((byte == bits.lockByte()) != fuses)
            chipBytes_[byte] = bits.value(byte);
    setBitsRead(lockRead_ || !fuses, fuseRead_ || fuses);
}

void TVentana::btnReadLockBitsClick()
{
    // Bits read from a chip nobody identified would be read as some other part's: the chip is
    // identified first, which reads its bits into its own editor.
    if (!avr_->identifiedPart())
        return btnTipoClick();
    runChipCommand([this] { runBitsCommand(false, false); });
}

void TVentana::btnLockBitsClick()
{
    runChipCommand([this] { runBitsCommand(false, true); });
}

void TVentana::btnReadFuseBitsClick()
{
    if (!avr_->identifiedPart())
        return btnTipoClick();
    runChipCommand([this] { runBitsCommand(true, false); });
}

void TVentana::btnFuseBitsClick()
{
    runChipCommand([this] { runBitsCommand(true, true); });
}

vardel::AvrPage::Outcome TVentana::runBitsCommand(bool fuses, bool program)
{
    using Outcome = vardel::AvrPage::Outcome;
    Outcome outcome = Outcome::Busy;
    editor_->show(avr_->identifiedPart());
    lockFuse_->partChoice = avr_->partChoice;
    const auto kind = fuses ? vardel::BitsWrite::Kind::Fuses : vardel::BitsWrite::Kind::Lock;
    outcome = program ? lockFuse_->program(kind) : lockFuse_->read(kind);
    mirrorPartPage();
    const std::string what = fuses ? "fuse bits" : "lock bits";
    switch (outcome) {
    case Outcome::Done:
        // A read, or a write the chip was read back after: the editor holds what the chip does.
        if (!fuses)
            lb2Alone_ = !program && lockFuse_->lb2WithoutLb1();
        chipBitsRead(fuses);
        host_->StatusText(program ? "Programmed the " + what + " of " + avr_->model().lbTipo() +
                                        " and read them back"
                                  : "Read the " + what + " of " + avr_->model().lbTipo() +
                                        (lb2Alone_ && !fuses ? ": LB2 without LB1, no lock" : ""));
        break;
    case Outcome::Cancelled:
        // The confirmation read the chip: the editors show what it holds, not what it held.
        if (lockFuse_->cancelledWithChipBits())
            chipBitsRead(fuses);
        host_->StatusText(std::string(fuses ? "Program Fuse Bits" : "Program Lock Bits") +
                          " cancelled: the chip was not changed");
        break;
    case Outcome::Failed:
    case Outcome::Stopped:
        host_->StatusText((program ? "Programming the " : "Reading the ") + what + " failed");
        break;
    case Outcome::Busy:
        break;
    }
    return outcome;
}

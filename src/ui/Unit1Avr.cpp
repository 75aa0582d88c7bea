// The AVR page of the main window: the READ and PROGRAM columns, the processor-type panel, the
// lock and fuse editor notebooks and the two gauges. Every widget mirrors the AVR page model and
// forwards clicks to the core commands.
#include "ui/Unit1.h"

#include "avr/avr_page.h"
#include "avr/lock_fuse_editor.h"
#include "hw/settings.h"
#include "ui/QtHost.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <utility>

using vardel::EditorSection;

namespace {

QLabel* heading(const char* text, QWidget* parent)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    QFont f = label->font();
    f.setBold(true);
    f.setUnderline(true);
    label->setFont(f);
    label->setStyleSheet(QStringLiteral("color: red;"));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QProgressBar* gauge(const char* name, QWidget* parent)
{
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(true);
    // A style sheet takes the bar's drawing over from the style, the text's place with it.
    bar->setAlignment(Qt::AlignCenter);
    // Black text, in every state: over the red part (5.3:1) and over the white rest alike. A
    // gauge disabled while its operation runs would otherwise grey its text to about 2:1.
    bar->setStyleSheet(QStringLiteral("QProgressBar { text-align: center; color: black;"
                                      " background: white; border: 1px solid gray; }"
                                      "QProgressBar::chunk { background: #ff0000; }"));
    return bar;
}

// A notebook page, found again by its caption.
QWidget* notebookPage(QStackedWidget* notebook, const char* caption)
{
    auto* page = new QWidget(notebook);
    page->setObjectName(notebook->objectName() + QLatin1Char('_') + QString::fromLatin1(caption));
    page->setProperty("caption", QString::fromLatin1(caption));
    notebook->addWidget(page);
    return page;
}

void showPage(QStackedWidget* notebook, const std::string& caption)
{
    for (int i = 0; i < notebook->count(); ++i)
        if (notebook->widget(i)->property("caption").toString().toStdString() == caption)
            notebook->setCurrentIndex(i);
    // A stacked widget asks for the room of its largest page; hidden pages ask for none here,
    // so the notebook is as large as the page it shows.
    for (int i = 0; i < notebook->count(); ++i) {
        QWidget* page = notebook->widget(i);
        page->setSizePolicy(page == notebook->currentWidget()
                                ? QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred)
                                : QSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored));
    }
    notebook->updateGeometry();
}

} // namespace

QString TVentana::notebookPageCaption(QStackedWidget* notebook)
{
    return notebook->currentWidget() ? notebook->currentWidget()->property("caption").toString()
                                     : QString();
}

void TVentana::buildAvrPage()
{
    avr_ = std::make_unique<vardel::AvrPage>(lines_, clock_, *host_, operations_);
    // The user may hold the AVR side at the safe pace, or give a floor on each SCK phase.
    vardel::AvrPaceSettings::Read(settings_).applyTo(avr_->serial());
    avr_->dialogs.save = [this]() -> std::optional<std::string> {
        return runFileDialog(*SD);
    };
    avr_->dialogs.open = [this](const std::string& title) -> std::optional<std::string> {
        OD->setWindowTitle(QString::fromStdString(title));
        // An AVR memory is also read from the ELF program avr-gcc links.
        const QStringList filters = OD->nameFilters();
        OD->setNameFilters(filters + QStringList{QStringLiteral("AVR programs (*.elf)")});
        std::optional<std::string> chosen = runFileDialog(*OD);
        // The verify commands lend the dialog a title of their own; it gets its own one back.
        OD->setWindowTitle(QStringLiteral("Open file"));
        OD->setNameFilters(filters);
        return chosen;
    };

    auto* outer = new QVBoxLayout(tsAvr);
    auto* columns = new QHBoxLayout;
    outer->addLayout(columns, 1);

    // Left: the processor type and the editors.
    auto* left = new QVBoxLayout;
    columns->addLayout(left, 1);
    auto* typePanel = new QGroupBox(tsAvr);
    typePanel->setObjectName(QStringLiteral("Panel2"));
    auto* typeLayout = new QGridLayout(typePanel);
    typeLayout->addWidget(new QLabel(QStringLiteral("Processor Type:"), typePanel), 0, 0);
    lbTipo = new QLabel(QString::fromLatin1(vardel::AvrPageModel::kUnknownType), typePanel);
    lbTipo->setObjectName(QStringLiteral("lbTipo"));
    lbTipo->setStyleSheet(QStringLiteral("color: navy;"));
    QFont typeFont = lbTipo->font();
    typeFont.setBold(true);
    lbTipo->setFont(typeFont);
    typeLayout->addWidget(lbTipo, 0, 1);
    btnTipo = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogInfoView),
                              QStringLiteral("Identify microprocessor"), typePanel);
    btnTipo->setObjectName(QStringLiteral("btnTipo"));
    btnTipo->setToolTip(QStringLiteral("Sprawdzenie typu procesora ATMEL"));
    btnTipo->setLayoutDirection(Qt::RightToLeft); // the icon to the right of the caption
    connect(btnTipo, &QPushButton::clicked, this, &TVentana::btnTipoClick);
    cbPart = new QComboBox(typePanel);
    cbPart->setObjectName(QStringLiteral("cbPart"));
    cbPart->setPlaceholderText(QStringLiteral("Choose the part in the socket"));
    cbPart->setToolTip(QStringLiteral("These parts answer the same signature with other fuse or "
                                      "lock bits"));
    cbPart->setVisible(false);
    connect(cbPart, &QComboBox::activated, this, &TVentana::cbPartChange);
    typeLayout->addWidget(cbPart, 1, 0, 1, 2);
    typeLayout->addWidget(btnTipo, 2, 0, 1, 2);
    left->addWidget(typePanel);
    lbEditorNote = new QLabel(tsAvr);
    lbEditorNote->setObjectName(QStringLiteral("lbEditorNote"));
    lbEditorNote->setWordWrap(true);
    lbEditorNote->setVisible(false);
    left->addWidget(lbEditorNote);

    // The editors scroll when the window is smaller than them, so that the command columns keep
    // their place on a small screen.
    editorScroll = new QScrollArea(tsAvr);
    editorScroll->setObjectName(QStringLiteral("editorScroll"));
    editorScroll->setWidgetResizable(true);
    editorScroll->setFrameShape(QFrame::NoFrame);
    Notebook1 = new QStackedWidget;
    Notebook1->setObjectName(QStringLiteral("Notebook1"));
    QWidget* megaPage = notebookPage(Notebook1, "ATmega128");
    QWidget* at90sPage = notebookPage(Notebook1, "AT90Sxxxx");
    notebookPage(Notebook1, "Empty");
    partPage_ = notebookPage(Notebook1, vardel::AvrPageModel::kPagePart);
    editorScroll->setWidget(Notebook1);
    left->addWidget(editorScroll, 1);

    auto* megaLayout = new QGridLayout(megaPage);
    Notebook3 = new QStackedWidget(megaPage);
    Notebook3->setObjectName(QStringLiteral("Notebook3"));
    notebookPage(Notebook3, "LB128");
    notebookPage(Notebook3, "LB103");
    Notebook2 = new QStackedWidget(megaPage);
    Notebook2->setObjectName(QStringLiteral("Notebook2"));
    for (const char* caption : {"163", "161", "128", "103"})
        notebookPage(Notebook2, caption);
    // The presets group stays hidden: nothing makes it visible.
    GroupBox3 = new QGroupBox(QStringLiteral("Predefined Fuse Bits Settings"), megaPage);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    GroupBox3->setVisible(false);
    // The lock bits above the fuse bits: their one row of eight boxes is as wide as the three
    // fuse columns, and side by side the two would not fit beside the command columns on a
    // 1024-pixel screen.
    megaLayout->addWidget(Notebook3, 0, 0);
    megaLayout->addWidget(Notebook2, 1, 0);
    megaLayout->addWidget(GroupBox3, 2, 0);
    megaLayout->setRowStretch(3, 1);

    auto* at90sLayout = new QGridLayout(at90sPage);
    GroupBox1 = new QGroupBox(QStringLiteral("Lock Bits"), at90sPage);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    Notebook4 = new QStackedWidget(at90sPage);
    Notebook4->setObjectName(QStringLiteral("Notebook4"));
    QWidget* at90sFuses = notebookPage(Notebook4, "AT90Sxxxx");
    QWidget* tinyFuses = notebookPage(Notebook4, "ATtiny");
    GroupBox4 = new QGroupBox(QStringLiteral("Fuse Bits"), at90sFuses);
    GroupBox4->setObjectName(QStringLiteral("GroupBox4"));
    (new QVBoxLayout(at90sFuses))->addWidget(GroupBox4);
    GroupBox5 = new QGroupBox(QStringLiteral("Fuse Bits"), tinyFuses);
    GroupBox5->setObjectName(QStringLiteral("GroupBox5"));
    (new QVBoxLayout(tinyFuses))->addWidget(GroupBox5);
    at90sLayout->addWidget(GroupBox1, 0, 0);
    at90sLayout->addWidget(Notebook4, 0, 1);

    // The PROGRAM column, then the READ column at the page's right edge.
    auto button = [this](const char* name, const char* caption, const char* hint,
                         QStyle::StandardPixmap icon, void (TVentana::*handler)()) {
        auto* b = new QToolButton(tsAvr);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(QString::fromUtf8(caption));
        b->setIcon(style()->standardIcon(icon));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setFixedSize(169, 49);
        if (hint)
            b->setToolTip(QString::fromUtf8(hint));
        b->setFocusPolicy(Qt::StrongFocus);
        connect(b, &QToolButton::clicked, this, handler);
        return b;
    };
    btnBorrar = button("btnBorrar", "Erase chip", "Kasuje zawartość flash i internal eeprom",
                       QStyle::SP_TrashIcon, &TVentana::btnBorrarClick);
    btnProgFlash = button("btnProgFlash", "Program Flash", nullptr, QStyle::SP_ArrowUp,
                          &TVentana::btnProgFlashClick);
    BitBtn1 = button("BitBtn1", "Program internal eeprom", nullptr, QStyle::SP_ArrowUp,
                     &TVentana::BitBtn1Click);
    btnLockBits = button("btnLockBits", "Program Lock Bits", nullptr, QStyle::SP_DialogSaveButton,
                         &TVentana::btnLockBitsClick);
    btnFuseBits = button("btnFuseBits", "Program Fuse Bits", nullptr, QStyle::SP_DialogSaveButton,
                         &TVentana::btnFuseBitsClick);
    btnTestBlank = button("btnTestBlank", "Blank-test",
                          "Sprawdza czy flash i internal eeprom zawierają jakieś dane",
                          QStyle::SP_DialogApplyButton, &TVentana::btnTestBlankClick);
    btnLeerFlash = button("btnLeerFlash", "Read Flash", nullptr, QStyle::SP_ArrowDown,
                          &TVentana::btnLeerFlashClick);
    btnLeerEEPInt = button("btnLeerEEPInt", "Read internal eeprom", nullptr, QStyle::SP_ArrowDown,
                           &TVentana::btnLeerEEPIntClick);
    btnFLashVerif = button("btnFLashVerif", "Verify Flash",
                           "Porównuje zawartość flash w procesorze z plikiem flash",
                           QStyle::SP_DialogYesButton, &TVentana::btnFLashVerifClick);
    btnEEPInt = button("btnEEPInt", "Verify internal eeprom",
                       "Porównuje zawartość internal eeprom w procesorze z plikiem internal eeprom",
                       QStyle::SP_DialogYesButton, &TVentana::btnEEPIntClick);
    btnReadLockBits = button("btnReadLockBits", "Read Lock Bits", nullptr,
                             QStyle::SP_DialogOpenButton, &TVentana::btnReadLockBitsClick);
    btnReadFuseBits = button("btnReadFuseBits", "Read Fuse Bits", nullptr,
                             QStyle::SP_DialogOpenButton, &TVentana::btnReadFuseBitsClick);

    // The flash commands have the keys the EEPROM page's Read, Program and Verify have; the page
    // not shown does not answer them.
    for (const auto& [b, key] :
         {std::pair{btnLeerFlash, Qt::Key_F5}, std::pair{btnProgFlash, Qt::Key_F6},
          std::pair{btnFLashVerif, Qt::Key_F7}}) {
        // An action of the page rather than the button's own shortcut: that one animates a
        // press and clicks a moment later, this one clicks at once.
        auto* action = new QAction(b->text(), tsAvr);
        action->setShortcut(QKeySequence(key));
        tsAvr->addAction(action);
        connect(action, &QAction::triggered, b, &QToolButton::click);
        const QString keyText = QKeySequence(key).toString(QKeySequence::NativeText);
        b->setToolTip(b->toolTip().isEmpty()
                          ? QStringLiteral("%1 (%2)").arg(b->text(), keyText)
                          : QStringLiteral("%1 (%2)").arg(b->toolTip(), keyText));
    }

    // PROGRAM, then READ at the page's right edge, in one grid so that the lock and fuse buttons
    // (after a gap of two places) line up with their READ partners.
    auto* grid = new QGridLayout;
    grid->addWidget(heading("PROGRAM", tsAvr), 0, 0);
    grid->addWidget(heading("READ", tsAvr), 0, 1);
    const QList<QToolButton*> program{btnBorrar, btnProgFlash, BitBtn1,    nullptr,
                                      nullptr,   btnLockBits,  btnFuseBits};
    const QList<QToolButton*> read{btnTestBlank, btnLeerFlash,    btnLeerEEPInt,  btnFLashVerif,
                                   btnEEPInt,    btnReadLockBits, btnReadFuseBits};
    for (int row = 0; row < read.size(); ++row) {
        if (program[row])
            grid->addWidget(program[row], row + 1, 0);
        grid->addWidget(read[row], row + 1, 1);
    }
    grid->setRowStretch(static_cast<int>(read.size()) + 1, 1);
    columns->addLayout(grid);

    // The bottom strip: the two gauges.
    auto* strip = new QHBoxLayout;
    strip->addWidget(new QLabel(QStringLiteral("Flash progress:"), tsAvr));
    prFlash = gauge("prFlash", tsAvr);
    strip->addWidget(prFlash, 1);
    strip->addWidget(new QLabel(QStringLiteral("Internal eeprom progress:"), tsAvr));
    prEEPInt = gauge("prEEPInt", tsAvr);
    strip->addWidget(prEEPInt, 1);
    // After a verify difference: each differing byte in turn, with the file's and the chip's
    // value, in the status bar (F8, Shift+F8 while this page is shown).
    auto stepper = [this, strip](const char* name, const char* caption, QStyle::StandardPixmap icon,
                                 const QKeySequence& key, bool forward) {
        auto* b = new QToolButton(tsAvr);
        b->setObjectName(QString::fromLatin1(name));
        b->setIcon(style()->standardIcon(icon));
        b->setToolTip(QStringLiteral("%1 (%2)").arg(QString::fromLatin1(caption),
                                                    key.toString(QKeySequence::NativeText)));
        b->setEnabled(false);
        connect(b, &QToolButton::clicked, this, [this, forward] { stepAvrDifference(forward); });
        auto* action = new QAction(QString::fromLatin1(caption), tsAvr);
        action->setShortcut(key);
        tsAvr->addAction(action);
        connect(action, &QAction::triggered, this, [this, forward] { stepAvrDifference(forward); });
        strip->addWidget(b);
        return b;
    };
    btnPreviousAvrDifference =
        stepper("btnPreviousAvrDifference", "Previous difference", QStyle::SP_ArrowBack,
                QKeySequence(Qt::SHIFT | Qt::Key_F8), false);
    btnNextAvrDifference = stepper("btnNextAvrDifference", "Next difference",
                                   QStyle::SP_ArrowForward, QKeySequence(Qt::Key_F8), true);
    outer->addLayout(strip);
    host_->setGauges(prFlash, prEEPInt);

    // Escape runs the blank test while the AVR page is shown, wherever the focus is in the
    // window; while a chip operation runs it stops that operation instead. A dialog takes the
    // Escape that closes it, and a held key repeating after the dialog has gone starts nothing.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setObjectName(QStringLiteral("escapeShortcut"));
    escape->setContext(Qt::WindowShortcut);
    escape->setAutoRepeat(false);
    connect(escape, &QShortcut::activated, this, [this] {
        if (operations_.busy())
            stopOperation();
        else if (PageControl1->currentWidget() == tsAvr)
            btnTestBlankClick();
    });

    buildEditors();
    setAvrTabOrder();
    setBitsRead(false, false);
    avr_->model().changed = [this](vardel::AvrPageModel::Aspect aspect) {
        mirrorAvrModel();
        // Whether the lock bits can be read decides whether their boxes wait for a read.
        if (aspect == vardel::AvrPageModel::Aspect::ReadLockBits)
            showEditorBits();
    };
    mirrorAvrModel();
}

void TVentana::setAvrTabOrder()
{
    // The type panel, the editors (lock bits left of fuse bits), the PROGRAM column, the READ
    // column. Widgets on hidden pages are skipped by Tab on their own.
    QList<QWidget*> order{btnTipo};
    for (const EditorSection section :
         {EditorSection::LB128, EditorSection::LB103, EditorSection::Fuse128,
          EditorSection::Fuse163, EditorSection::Fuse161, EditorSection::Fuse103,
          EditorSection::LockAT90S, EditorSection::FuseAT90S, EditorSection::FuseATtiny}) {
        for (const int n : vardel::LockFuseEditor::BoxesOf(section))
            if (CheckBoxes[n])
                order << CheckBoxes[n];
        if (section == EditorSection::LockAT90S)
            order << Memo1;
        if (section == EditorSection::FuseATtiny)
            order << SpeedButton4 << SpeedButton5;
    }
    order << btnBorrar << btnProgFlash << BitBtn1 << btnLockBits << btnFuseBits << btnTestBlank
          << btnLeerFlash << btnLeerEEPInt << btnFLashVerif << btnEEPInt << btnReadLockBits
          << btnReadFuseBits;
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void TVentana::mirrorAvrModel()
{
    const vardel::AvrPageModel& m = avr_->model();
    // The editor holds the bytes of the chip identified last.
    editor_->show(avr_->identifiedPart());
    lbTipo->setText(QString::fromStdString(m.lbTipo()));
    showPartChoices();
    showPage(Notebook1, m.Notebook1());
    showPage(Notebook2, m.Notebook2());
    showPage(Notebook3, m.Notebook3());
    showPage(Notebook4, m.Notebook4());
    GroupBox4->setVisible(m.GroupBox4Visible());
    btnReadLockBits->setEnabled(m.btnReadLockBitsEnabled());
    enableBitsWrites();
    prFlash->setValue(m.prFlash());
    prEEPInt->setValue(m.prEEPInt());
    // CheckBox35 is captioned for the identified chip.
    mirrorEditorBox(vardel::LockFuseEditor::CheckBox35);
    mirrorPartPage();
    // Another chip (or none): the editors no longer hold its bits.
    if (m.lbTipo() != bitsOf_) {
        bitsOf_ = m.lbTipo();
        setBitsRead(false, false);
    }
}

void TVentana::btnTipoClick()
{
    // A new identification: the chip may be another one, so no part is chosen for it yet.
    avr_->partChoice.clear();
    identify();
}

void TVentana::cbPartChange(int index)
{
    if (index < 0)
        return;
    avr_->partChoice = cbPart->itemText(index).toStdString();
    identify();
}

void TVentana::showPartChoices()
{
    const QSignalBlocker quiet(cbPart);
    cbPart->clear();
    for (const vardel::AvrPart* part : avr_->partChoices())
        cbPart->addItem(QString::fromLatin1(part->name));
    const vardel::AvrPart* shown = avr_->identifiedPart();
    cbPart->setCurrentIndex(
        avr_->partPicked() && shown ? cbPart->findText(QString::fromLatin1(shown->name)) : -1);
    cbPart->setVisible(cbPart->count() > 0);
}

void TVentana::identify()
{
    runChipCommand([this] {
        setBitsRead(false, false);
        const vardel::AvrPage::Outcome outcome = avr_->btnTipoClick();
        if (outcome == vardel::AvrPage::Outcome::Busy)
            return;
        host_->StatusText(identificationText(outcome == vardel::AvrPage::Outcome::Done));
        if (outcome != vardel::AvrPage::Outcome::Done)
            return;
        // The editors show what the chip holds, read as the Read buttons read it; until they do,
        // nothing can be programmed from them.
        using Outcome = vardel::AvrPage::Outcome;
        const std::string identified = identificationText(true);
        bool read = true;
        if (avr_->model().btnReadLockBitsEnabled())
            read = runBitsCommand(false, false) == Outcome::Done;
        if (read && chipHasFuses())
            read = runBitsCommand(true, false) == Outcome::Done;
        host_->StatusText(identified + (read ? "; lock and fuse bits read"
                                             : "; reading its lock and fuse bits failed"));
    });
}

std::string TVentana::identificationText(bool identified) const
{
    const auto& s = avr_->lastSignature();
    char signature[32];
    std::snprintf(signature, sizeof signature, "0x%02X 0x%02X 0x%02X", s[0], s[1], s[2]);
    using I = vardel::AvrPage::Identification;
    if (identified)
        return "Identified " + avr_->model().lbTipo() + ", signature " + signature;
    switch (avr_->lastIdentification()) {
    case I::Protected:
        return std::string("Identify failed: the chip is read/write protected (signature ") +
               signature + "); erasing it unlocks it";
    case I::UnknownAtmel:
        return std::string("Identify failed: unknown Atmel chip, signature ") + signature;
    case I::OtherSignature:
        return std::string("Identify failed: signature ") + signature + " is no AVR's";
    case I::NotChosen:
        return std::string("Identify failed: signature ") + signature +
               " is not the part's that was named";
    case I::NotDetected:
    case I::Identified:
        break;
    }
    return "Identify failed: processor not detected";
}
void TVentana::btnLeerFlashClick()
{
    fileRole_ = kFlashFiles;
    runChipCommand([this] { avr_->btnLeerFlashClick(); });
}
void TVentana::btnProgFlashClick()
{
    fileRole_ = kFlashFiles;
    runChipCommand([this] { avr_->btnProgFlashClick(); });
}
void TVentana::btnFLashVerifClick()
{
    fileRole_ = kFlashFiles;
    runChipCommand([this] { avr_->btnFLashVerifClick(); }, true);
    showAvrDifferences();
}

void TVentana::forgetAvrDifferences()
{
    avrDifferences_.clear();
    avrDifferenceAt_ = -1;
    btnNextAvrDifference->setEnabled(false);
    btnPreviousAvrDifference->setEnabled(false);
}

void TVentana::showAvrDifferences()
{
    forgetAvrDifferences();
    if (const auto& d = avr_->lastDifference())
        for (std::uint32_t a = 0; a < d->chip.size(); ++a)
            if (d->chip[a] != d->file[a])
                avrDifferences_.push_back(a);
    btnNextAvrDifference->setEnabled(!avrDifferences_.empty());
    btnPreviousAvrDifference->setEnabled(!avrDifferences_.empty());
}

void TVentana::stepAvrDifference(bool forward)
{
    const auto& d = avr_->lastDifference();
    if (avrDifferences_.empty() || !d)
        return;
    const int n = static_cast<int>(avrDifferences_.size());
    // From before the first: Next goes to the first, Previous to the last; round at the ends.
    avrDifferenceAt_ = avrDifferenceAt_ < 0 ? (forward ? 0 : n - 1)
                                            : (avrDifferenceAt_ + (forward ? 1 : n - 1)) % n;
    const std::uint32_t a = avrDifferences_[avrDifferenceAt_];
    char text[96];
    std::snprintf(text, sizeof text, "%s difference %d of %d at 0x%04X: file %02X, chip %02X",
                  d->flash ? "Flash" : "Internal eeprom", avrDifferenceAt_ + 1, n,
                  static_cast<unsigned>(a), d->file[a], d->chip[a]);
    host_->StatusText(text);
}
void TVentana::btnLeerEEPIntClick()
{
    fileRole_ = kInternalEepromFiles;
    runChipCommand([this] { avr_->btnLeerEEPIntClick(); });
}
void TVentana::BitBtn1Click()
{
    fileRole_ = kInternalEepromFiles;
    runChipCommand([this] { avr_->BitBtn1Click(); });
}
void TVentana::btnEEPIntClick()
{
    fileRole_ = kInternalEepromFiles;
    runChipCommand([this] { avr_->btnEEPIntClick(); }, true);
    showAvrDifferences();
}
void TVentana::btnBorrarClick()
{
    runChipCommand([this] {
        // An erase clears the lock bits: the editor reads them again if it held them.
        if (avr_->btnBorrarClick() == vardel::AvrPage::Outcome::Done && lockRead_) {
            const QString erased = lbStatus->text();
            if (runBitsCommand(false, false) == vardel::AvrPage::Outcome::Done)
                lbStatus->setText(erased + QStringLiteral("; lock bits read again"));
        }
    });
}
void TVentana::btnTestBlankClick()
{
    runChipCommand([this] { avr_->btnTestBlankClick(); }, true);
}

#include "ui/Unit1.h"
#include "ui/StatusLabel.h"
#include "ui/Unit1Auto.h"

#include "avr/avr_page.h"
#include "avr/lock_fuse_commands.h"
#include "avr/lock_fuse_editor.h"
#include "avr/part_bits.h"
#include "hw/clock.h"
#include "hw/gpio_port.h"
#include "hw/hardware_check.h"
#include "hw/port_io.h"
#include "hw/settings.h"
#include "hw/startup.h"
#include "i2c/eeprom_page.h"
#include "spi/flash_voltage.h"
#include "ui/EepromGridModel.h"
#include "ui/QtHost.h"
#include "ui/UnAbout.h"
#include "ui/Unit2.h"
#include "ui/Unit3.h"
#include "ui/unManual.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

TVentana* Ventana = nullptr;

namespace {
const char* kGridShowsImage =
    "The chip was erased (every byte FF). The grid still shows the image, not the chip: Read chip "
    "shows the chip.";
const char* kCaption = "Vardel v1.2  by Tobren      -== BETATEST VERSION ==-";

// The folder setting holds the dialog's last file name; the dialog opens in that file's folder.
QString initialFolder(const std::string& stored)
{
    const QString text = QFile::decodeName(QByteArray::fromStdString(stored));
    const QFileInfo info(text);
    if (info.isDir())
        return text;
    if (info.dir().exists())
        return info.dir().path();
    return text;
}
} // namespace

TVentana::TVentana(vardel::PortIo& port, vardel::Clock& clock, vardel::Settings& settings,
                   QWidget* parent)
    : QMainWindow(parent), port_(port), clock_(clock), settings_(settings), lines_(port),
      timing_(clock)
{
    setObjectName(QStringLiteral("Ventana"));
    setWindowTitle(QString::fromLatin1(kCaption));
    resize(849, 661);
    QFont font(QStringLiteral("Arial"), 10);
    setFont(font);

    host_ = std::make_unique<QtHost>(this, nullptr);
    eeprom_ = std::make_unique<vardel::EepromPage>(lines_, timing_, *host_, operations_);
    eeprom_->RefreshGrid = [this] {
        RefreshGrid();
    };

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    tsAvr = new QWidget;
    tsAvr->setObjectName(QStringLiteral("tsAvr"));
    tsEeprom = new QWidget;
    tsEeprom->setObjectName(QStringLiteral("tsEeprom"));
    PageControl1->addTab(tsAvr, QStringLiteral("AT90SXXXX , ATmega"));
    PageControl1->addTab(tsEeprom, QStringLiteral("24CXXX"));
    PageControl1->setCurrentIndex(0);
    setCentralWidget(PageControl1);

    lbBoard = new QLabel(this);
    lbBoard->setObjectName(QStringLiteral("lbBoard"));
    statusBar()->addWidget(lbBoard, 1);
    updateBoardLabel();
    lbStatus = new StatusLabel(this);
    lbStatus->setObjectName(QStringLiteral("lbStatus"));
    // A long outcome text is cut at the window's edge rather than widening the window.
    lbStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->addWidget(lbStatus, 2);
    host_->setStatusLabel(lbStatus);
    // Stops the running chip operation, on either page, after the unit of work in hand.
    btnStop = new QPushButton(QStringLiteral("Stop"), this);
    btnStop->setObjectName(QStringLiteral("btnStop"));
    btnStop->setToolTip(QStringLiteral("Stops the running operation after the byte in hand (Esc)"));
    btnStop->setEnabled(false);
    btnStop->setFocusPolicy(Qt::NoFocus);
    connect(btnStop, &QPushButton::clicked, this, &TVentana::stopOperation);
    statusBar()->addPermanentWidget(btnStop);

    buildEepromPage();
    buildAvrPage();
    buildMenu();
    buildFileDialogs();
    host_->fileInHand = [this] {
        return QFileInfo(OD->property("lastFileName").toString()).fileName().toStdString();
    };
    autoPanel_ = new AutoPanel(*this);
    FormCreate();
}

TVentana::~TVentana()
{
    FormDestroy();
    if (Ventana == this)
        Ventana = nullptr;
}

void TVentana::setForms(TAboutBox* about, TformProgreso* progress, TformConfig* config,
                        TformManual* manual)
{
    about_ = about;
    progress_ = progress;
    config_ = config;
    manual_ = manual;
    host_->setProgress(progress_);
    if (manual_)
        manual_->setBoard(&lines_, &clock_);
}

void TVentana::buildMenu()
{
    QMenu* program = menuBar()->addMenu(QStringLiteral("&Program"));
    program->setObjectName(QStringLiteral("Program1"));
    Close1 = program->addAction(QStringLiteral("&Close"), this, &TVentana::Salir1Click);
    Close1->setObjectName(QStringLiteral("Salir1"));

    QMenu* hardware = menuBar()->addMenu(QStringLiteral("&Hardware"));
    hardware->setObjectName(QStringLiteral("Hardware1"));
    Configuracion2 =
        hardware->addAction(QStringLiteral("&Configuration"), this, &TVentana::Configuracion2Click);
    Configuracion2->setObjectName(QStringLiteral("Configuracion2"));
    N1 = hardware->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    N1->setVisible(false);
    Checkearcorvid1 = hardware->addAction(QStringLiteral("Checkear corvid..."), this,
                                          &TVentana::Checkearcorvid1Click);
    Checkearcorvid1->setObjectName(QStringLiteral("Checkearcorvid1"));
    Checkearcorvid1->setVisible(false);
    Comprobacionmanual1 = hardware->addAction(QStringLiteral("Comprobacion &manual..."), this,
                                              &TVentana::Comprobacionmanual1Click);
    Comprobacionmanual1->setObjectName(QStringLiteral("Comprobacionmanual1"));
    Comprobacionmanual1->setVisible(false);

    QMenu* help = menuBar()->addMenu(QStringLiteral("H&elp"));
    help->setObjectName(QStringLiteral("Help1"));
    Acercade1 = help->addAction(QStringLiteral("&About"), this, &TVentana::Acercade1Click);
    Acercade1->setObjectName(QStringLiteral("Acercade1"));
}

void TVentana::buildFileDialogs()
{
    OD = new QFileDialog(this, QStringLiteral("Open file"));
    OD->setObjectName(QStringLiteral("OD"));
    OD->setOption(QFileDialog::DontUseNativeDialog);
    OD->setOption(QFileDialog::ReadOnly, false);
    OD->setAcceptMode(QFileDialog::AcceptOpen);
    OD->setFileMode(QFileDialog::AnyFile);
    OD->setNameFilters({QStringLiteral("All supported files (*.hex *.bin)"),
                        QStringLiteral("Intel HEX files (*.hex)"),
                        QStringLiteral("Binary files (*.bin)")});
    OD->setDefaultSuffix(QStringLiteral("hex"));

    SD = new QFileDialog(this, QStringLiteral("Save file"));
    SD->setObjectName(QStringLiteral("SD"));
    SD->setOption(QFileDialog::DontUseNativeDialog);
    SD->setAcceptMode(QFileDialog::AcceptSave);
    SD->setFileMode(QFileDialog::AnyFile);
    SD->setNameFilters(
        {QStringLiteral("Intel HEX files(*.hex)"), QStringLiteral("Binary files (*.bin)")});
    // A name typed without an ending gets the ending of the filter chosen (runFileDialog).
}

QString TVentana::chosenFileName(const QFileDialog& dialog)
{
    QString name = dialog.selectedFiles().value(0);
    if (name.isEmpty() || dialog.acceptMode() != QFileDialog::AcceptSave ||
        !QFileInfo(name).suffix().isEmpty())
        return name;
    const QString filter = dialog.selectedNameFilter();
    return name + (filter.contains(QLatin1String("*.bin")) ? QStringLiteral(".bin")
                                                           : QStringLiteral(".hex"));
}

void TVentana::FormCreate()
{
    // The initial type is applied exactly as a user's choice would be, before the settings.
    {
        const QSignalBlocker quiet(cbChip);
        cbChip->setCurrentIndex(vardel::kInitialEepromType);
    }
    cbChipChange(vardel::kInitialEepromType);
    const vardel::DialogFolders folders = vardel::StartUp(settings_, timing_);
    OD->setDirectory(initialFolder(folders.open));
    SD->setDirectory(initialFolder(folders.save));
    OD->selectFile(QString::fromLatin1(vardel::kInitialDialogFileName));
    SD->selectFile(QString::fromLatin1(vardel::kInitialDialogFileName));
    OD->setProperty("lastFileName", QString::fromLatin1(vardel::kInitialDialogFileName));
    SD->setProperty("lastFileName", QString::fromLatin1(vardel::kInitialDialogFileName));
}

std::string TVentana::dialogFileName(const QFileDialog& dialog)
{
    return QFile::encodeName(dialog.property("lastFileName").toString()).toStdString();
}

void TVentana::FormDestroy()
{
    if (destroyed_)
        return;
    destroyed_ = true;
    vardel::ShutDown(lines_, settings_, timing_.DelayFactor, dialogFileName(*OD),
                     dialogFileName(*SD));
}

int TVentana::runModal(QDialog& dialog)
{
    if (execModal)
        return execModal(dialog);
    return dialog.exec();
}

std::optional<std::string> TVentana::runFileDialog(QFileDialog& dialog)
{
    // A memory's dialog comes with that memory's last file opened (or saved), or with no name
    // at all.
    QString role = std::exchange(fileRole_, QString());
    if (!role.isEmpty())
        role += dialog.acceptMode() == QFileDialog::AcceptSave ? QStringLiteral(":save")
                                                               : QStringLiteral(":open");
    if (!role.isEmpty()) {
        const auto last = lastFiles_.find(role);
        dialog.selectFile(last != lastFiles_.end()
                              ? last->second
                              : QString::fromLatin1(vardel::kInitialDialogFileName));
    }
    const bool chosen =
        execFileDialog ? execFileDialog(dialog) : dialog.exec() == QDialog::Accepted;
    const QString name = chosen ? chosenFileName(dialog) : QString();
    if (name.isEmpty())
        return std::nullopt;
    dialog.setProperty("lastFileName", name);
    if (!role.isEmpty())
        lastFiles_[role] = name;
    return QFile::encodeName(name).toStdString();
}

bool TVentana::claimBoardForCommand()
{
    std::string error;
    const bool claimed = !claimBoard || claimBoard(error);
    // The sockets as the folder now has them, whoever changed them.
    updateBoardLabel();
    if (!claimed)
        host_->MessageBox(error, "ERROR", vardel::Host::Kind::Error, vardel::Host::Buttons::Ok,
                          vardel::Host::Icon::None);
    return claimed;
}

void TVentana::releaseBoardAfterCommand()
{
    std::string error;
    if (releaseBoard && !releaseBoard(error))
        host_->MessageBox(error, "ERROR", vardel::Host::Kind::Error, vardel::Host::Buttons::Ok,
                          vardel::Host::Icon::None);
    updateBoardLabel();
}

void TVentana::runChipCommand(const std::function<void()>& command, bool looksOnly)
{
    if (operations_.busy() || !claimBoardForCommand())
        return;
    setCommandsEnabled(false);
    // Every AVR command powers whatever chip is in the socket, which may be another one.
    forgetAvrDifferences();
    // The command's last box appears once the status bar says how it ended and the board is let
    // go.
    host_->holdMessages();
    command();
    fileRole_.clear();
    setCommandsEnabled(true);
    releaseBoardAfterCommand();
    if (closePending_ && looksOnly)
        host_->dropHeldMessages(vardel::Host::Kind::Warning);
    host_->showHeldMessages();
    if (closePending_)
        QTimer::singleShot(0, this, &QWidget::close);
}

void TVentana::stopOperation()
{
    operations_.requestStop();
    if (progress_)
        progress_->CancelFlag = 1;
}

void TVentana::stopOperationThenClose()
{
    if (!operations_.busy()) {
        close();
        return;
    }
    // The running operation ends after the unit of work in hand, drives its lines low, and the
    // window closes then (runChipCommand).
    closePending_ = true;
    stopOperation();
}

void TVentana::closeEvent(QCloseEvent* event)
{
    if (operations_.busy()) {
        event->ignore();
        if (closePending_)
            return;
        // The operation waits while the question is open: the chip is neither clocked nor
        // written meanwhile.
        const auto answer = host_->MessageBox(
            "A chip operation is running. Stop it after the byte in hand and close Vardel?\r"
            "A chip left partly written must be programmed again.",
            "WARNING:", vardel::Host::Kind::Question, vardel::Host::Buttons::OkCancelDefaultCancel,
            vardel::Host::Icon::Exclamation);
        if (answer == vardel::Host::Result::Ok)
            stopOperationThenClose();
        return;
    }
    closePending_ = false;
    QMainWindow::closeEvent(event);
}

void TVentana::Salir1Click()
{
    close();
}

void TVentana::Acercade1Click()
{
    if (about_)
        runModal(*about_);
}

void TVentana::Configuracion2Click()
{
    if (!config_)
        return;
    config_->tb->setValue(timing_.DelayFactor);
    const std::string map = settings_.ReadString("GPIO_MAP", "");
    config_->edGpioMap->setText(QString::fromStdString(map));
    config_->cbSafePace->setChecked(vardel::AvrPaceSettings::Read(settings_).safe);
    runModal(*config_);
    // However the dialog was closed, the bar's position is the new factor.
    timing_.DelayFactor = config_->tb->value();
    // The safe pace, kept at once and used from the next AVR command on.
    settings_.WriteInteger("AVR_SAFE_PACE", config_->cbSafePace->isChecked() ? 1 : 0);
    settings_.Sync();
    if (avr_)
        vardel::AvrPaceSettings::Read(settings_).applyTo(avr_->serial());
    // The map is kept at once, for the next start with gpio:CHIP; one that is not a map is not.
    const std::string edited = config_->edGpioMap->text().trimmed().toStdString();
    std::string error;
    if (edited == map)
        return;
    if (!edited.empty() && !vardel::ParseGpioMap(edited, error)) {
        host_->MessageBox("The GPIO map was not kept: " + error + ".", "ERROR",
                          vardel::Host::Kind::Error, vardel::Host::Buttons::Ok,
                          vardel::Host::Icon::None);
        return;
    }
    settings_.WriteString("GPIO_MAP", edited);
    settings_.Sync();
}

void TVentana::Checkearcorvid1Click()
{
    runChipCommand([this] {
        vardel::Operation operation(operations_);
        if (operation.acquired())
            vardel::CheckBoard(lines_, *host_, nullptr, &timing_);
    });
}

void TVentana::Comprobacionmanual1Click()
{
    if (!manual_ || operations_.busy() || !claimBoardForCommand())
        return;
    runModal(*manual_);
    releaseBoardAfterCommand();
}

void TVentana::buildEepromPage()
{
    auto* layout = new QVBoxLayout(tsEeprom);
    layout->setContentsMargins(2, 2, 2, 2);

    ToolBar1 = new QToolBar(tsEeprom);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    // The commands have keys too; a toolbar button is not a Tab stop. A hidden page's actions do
    // not answer their keys, so the AVR page can use F5 to F7 for its own commands.
    auto tool = [this](const char* name, QStyle::StandardPixmap icon, const char* hint,
                       void (TVentana::*handler)(), const QKeySequence& key = {}) {
        QAction* a = ToolBar1->addAction(style()->standardIcon(icon), QString::fromUtf8(hint));
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(key);
        a->setToolTip(key.isEmpty()
                          ? QString::fromUtf8(hint)
                          : QStringLiteral("%1 (%2)").arg(QString::fromUtf8(hint),
                                                          key.toString(QKeySequence::NativeText)));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    ToolButton1 = tool("ToolButton1", QStyle::SP_DialogOpenButton, "Open file...",
                       &TVentana::Abrir1Click, QKeySequence(Qt::CTRL | Qt::Key_O));
    ToolButton2 = tool("ToolButton2", QStyle::SP_DialogSaveButton, "Save File...",
                       &TVentana::Guardar1Click, QKeySequence(Qt::CTRL | Qt::Key_S));
    ToolBar1->addSeparator();
    ToolButton3 = tool("ToolButton3", QStyle::SP_ArrowDown, "Read chip", &TVentana::Leerchip1Click,
                       QKeySequence(Qt::Key_F5));
    ToolButton4 = tool("ToolButton4", QStyle::SP_ArrowUp, "Program chip",
                       &TVentana::Grabarchip1Click, QKeySequence(Qt::Key_F6));
    ToolBar1->addSeparator();
    ToolButton5 = tool("ToolButton5", QStyle::SP_DialogApplyButton, "Verify chip",
                       &TVentana::Verificar1Click, QKeySequence(Qt::Key_F7));
    btnEraseAll =
        tool("btnEraseAll", QStyle::SP_TrashIcon, "Erase chip (ERAL)", &TVentana::EraseAllClick);
    btnEraseAll->setVisible(false);
    ToolBar1->addSeparator();
    NextDifference = tool("NextDifference", QStyle::SP_ArrowForward, "Next difference",
                          &TVentana::nextDifferenceClick, QKeySequence(Qt::Key_F8));
    PreviousDifference =
        tool("PreviousDifference", QStyle::SP_ArrowBack, "Previous difference",
             &TVentana::previousDifferenceClick, QKeySequence(Qt::SHIFT | Qt::Key_F8));
    ToolBar1->addSeparator();
    ToolButton6 = tool("ToolButton6", QStyle::SP_MessageBoxInformation, "About...",
                       &TVentana::Acercade1Click);
    layout->addWidget(ToolBar1);

    auto* typeBar = new QHBoxLayout;
    auto* typeLabel = new QLabel(QStringLiteral("memory type:"), tsEeprom);
    typeBar->addWidget(typeLabel);
    cbChip = new QComboBox(tsEeprom);
    cbChip->setObjectName(QStringLiteral("cbChip"));
    cbChip->setEditable(false);
    for (const auto& type : vardel::EepromList())
        cbChip->addItem(QString::fromLatin1(type.entry));
    // Choosing the entry already shown again is no change: the image stays.
    connect(cbChip, &QComboBox::currentIndexChanged, this, &TVentana::cbChipChange);
    typeBar->addWidget(cbChip);
    typeBar->addStretch(1);
    layout->addLayout(typeBar);
    lbGridShows = new QLabel(QString::fromLatin1(kGridShowsImage), tsEeprom);
    lbGridShows->setObjectName(QStringLiteral("lbGridShows"));
    lbGridShows->setWordWrap(true);
    lbGridShows->setStyleSheet(QStringLiteral("color: #b00000;"));
    lbGridShows->setVisible(false);
    layout->addWidget(lbGridShows);

    SG = new QTableView(tsEeprom);
    SG->setObjectName(QStringLiteral("SG"));
    gridModel_ = new EepromGridModel(*eeprom_, SG);
    SG->setModel(gridModel_);
    SG->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // One cell at a time can be selected: the first difference a verify found.
    SG->setSelectionMode(QAbstractItemView::SingleSelection);
    // Tab leaves the grid instead of stepping through thousands of cells.
    SG->setTabKeyNavigation(false);
    SG->setShowGrid(true);
    SG->horizontalHeader()->hide();
    SG->verticalHeader()->hide();
    SG->setWordWrap(false);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setStyleHint(QFont::TypeWriter);
    SG->setFont(fixed);
    SG->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    SG->verticalHeader()->setDefaultSectionSize(QFontMetrics(fixed).height() + 4);
    SG->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // Widths in the proportion 50 : 30 : 12, scaled to the font.
    const double scale =
        std::max(1.0, QFontMetrics(fixed).horizontalAdvance(QLatin1Char('0')) / 7.0);
    SG->setColumnWidth(0, int(50 * scale));
    for (int c = 1; c <= 8; ++c)
        SG->setColumnWidth(c, int(30 * scale));
    for (int c = 9; c <= 16; ++c)
        SG->setColumnWidth(c, int(12 * scale));
    layout->addWidget(SG, 1);
}

void TVentana::setCommandsEnabled(bool enabled)
{
    for (QAction* a : {ToolButton1, ToolButton2, ToolButton3, ToolButton4, ToolButton5, btnEraseAll,
                       Configuracion2, Checkearcorvid1, Comprobacionmanual1})
        a->setEnabled(enabled);
    cbChip->setEnabled(enabled);
    tsAvr->setEnabled(enabled);
    btnStop->setEnabled(!enabled);
    updateDifferenceActions();
}

void TVentana::RefreshGrid()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    gridModel_->refresh();
    QApplication::restoreOverrideCursor();
    updateDifferenceActions();
}

void TVentana::nextDifferenceClick()
{
    stepDifference(true);
}

void TVentana::previousDifferenceClick()
{
    stepDifference(false);
}

void TVentana::cbChipChange(int index)
{
    if (operations_.busy())
        return;
    const int before = eeprom_->typeIndex();
    eeprom_->cbChipChange(index);
    if (eeprom_->typeIndex() != before) {
        lbGridShows->setVisible(false);
        host_->StatusText(
            eeprom_->ChipSize == 0
                ? std::string(eeprom_->type().entry) + " chosen: reading the chip sizes the image"
                : std::string(eeprom_->type().name) + " chosen: the image was cleared to FF (" +
                      std::to_string(eeprom_->ChipSize) + " bytes)");
    }
    const vardel::EepromBus bus = eeprom_->type().bus;
    btnEraseAll->setVisible(bus == vardel::EepromBus::Microwire ||
                            bus == vardel::EepromBus::SpiFlash);
    btnEraseAll->setText(bus == vardel::EepromBus::SpiFlash ? QStringLiteral("Erase chip")
                                                            : QStringLiteral("Erase chip (ERAL)"));
    btnEraseAll->setToolTip(btnEraseAll->text());
}

void TVentana::Abrir1Click()
{
    if (operations_.busy())
        return;
    fileRole_ = kEepromPageFiles;
    const std::optional<std::string> name = runFileDialog(*OD);
    if (!name) {
        host_->StatusText("Open cancelled: no file chosen, the image is unchanged");
        return;
    }
    const std::string shown =
        QFileInfo(QFile::decodeName(QByteArray::fromStdString(*name))).fileName().toStdString();
    if (eeprom_->Abrir1Click(*name) == vardel::EepromPage::Outcome::Done) {
        lbGridShows->setVisible(false);
        host_->StatusText("Opened " + shown + " into the " + eeprom_->type().name + " image (" +
                          std::to_string(eeprom_->ChipSize) + " bytes)");
    } else {
        host_->StatusText("Open failed: " + shown + " was not loaded, the image is unchanged");
    }
}

void TVentana::Guardar1Click()
{
    if (operations_.busy())
        return;
    fileRole_ = kEepromPageFiles;
    const std::optional<std::string> name = runFileDialog(*SD);
    if (!name) {
        host_->StatusText("Save cancelled: no file chosen");
        return;
    }
    const std::string shown =
        QFileInfo(QFile::decodeName(QByteArray::fromStdString(*name))).fileName().toStdString();
    if (eeprom_->Guardar1Click(*name) == vardel::EepromPage::Outcome::Done)
        host_->StatusText("Saved " + std::to_string(eeprom_->ChipSize) + " bytes to " + shown);
    else
        host_->StatusText("Save failed: " + shown + " was not written");
}

void TVentana::Leerchip1Click()
{
    warnFlashVoltage();
    runChipCommand([this] {
        forgetEepromDifferences();
        lbGridShows->setVisible(false);
        eeprom_->Leerchip1Click();
    });
}

void TVentana::Grabarchip1Click()
{
    warnFlashVoltage();
    runChipCommand([this] {
        forgetEepromDifferences();
        lbGridShows->setVisible(false);
        eeprom_->Grabarchip1Click();
    });
}

void TVentana::Verificar1Click()
{
    warnFlashVoltage();
    runChipCommand([this] {
        forgetEepromDifferences();
        lbGridShows->setVisible(false);
        eeprom_->Verificar1Click();
    });
    showFirstDifference();
}

void TVentana::EraseAllClick()
{
    warnFlashVoltage();
    runChipCommand([this] {
        forgetEepromDifferences();
        // The chip now holds FF; the image, which the grid shows, is kept.
        lbGridShows->setVisible(eeprom_->EraseAllClick() == vardel::EepromPage::Outcome::Done);
    });
}

void TVentana::warnFlashVoltage()
{
    if (!operations_.busy() && eeprom_->flashChosen())
        vardel::WarnFlashVoltageOnce(port_, settings_, *host_);
}

void TVentana::showFirstDifference()
{
    const auto& difference = eeprom_->lastDifference();
    if (!difference) {
        updateDifferenceActions();
        return;
    }
    std::vector<int> addresses;
    std::vector<std::uint8_t> chip;
    const int n = std::min<int>(eeprom_->ChipSize, static_cast<int>(difference->chip.size()));
    for (int a = 0; a < n; ++a)
        if (difference->chip[a] != eeprom_->EepromImage[a]) {
            addresses.push_back(a);
            chip.push_back(difference->chip[a]);
        }
    gridModel_->setDifferences(std::move(addresses), std::move(chip));
    selectCell(gridModel_->cellOf(difference->first));
    updateDifferenceActions();
}

void TVentana::selectCell(const QModelIndex& cell)
{
    // A tool tip shown over a cell would name another byte once the grid scrolls: it goes at
    // once (QToolTip::hideText lets it linger a moment).
    for (QWidget* tip : QApplication::topLevelWidgets())
        if (tip->inherits("QTipLabel") && tip->isVisible()) {
            tip->hide();
            tip->deleteLater();
        }
    SG->setCurrentIndex(cell);
    SG->selectionModel()->select(cell, QItemSelectionModel::ClearAndSelect);
    SG->scrollTo(cell, QAbstractItemView::PositionAtCenter);
}

void TVentana::stepDifference(bool forward)
{
    const std::vector<int>& all = gridModel_->differences();
    if (all.empty())
        return;
    const int here = EepromGridModel::addressOf(SG->currentIndex());
    // From the selected cell onwards (or backwards), round to the other end after the last.
    int index = 0;
    if (forward) {
        const auto next = std::upper_bound(all.begin(), all.end(), here);
        index = next == all.end() ? 0 : static_cast<int>(next - all.begin());
    } else {
        const auto next = std::lower_bound(all.begin(), all.end(), here < 0 ? 0 : here);
        index = next == all.begin() ? static_cast<int>(all.size()) - 1
                                    : static_cast<int>(next - all.begin()) - 1;
    }
    const int address = all[index];
    const QModelIndex cell = gridModel_->cellOf(address);
    selectCell(cell);
    host_->StatusText("Difference " + std::to_string(index + 1) + " of " +
                      std::to_string(all.size()) + " at " +
                      cell.data(Qt::ToolTipRole).toString().toStdString());
}

void TVentana::forgetEepromDifferences()
{
    gridModel_->setDifferences({}, {});
    updateDifferenceActions();
}

void TVentana::updateDifferenceActions()
{
    const bool any = !gridModel_->differences().empty() && !operations_.busy();
    NextDifference->setEnabled(any);
    PreviousDifference->setEnabled(any);
}

void TVentana::updateBoardLabel()
{
    lbBoard->setText(QStringLiteral("Board: ") + QString::fromStdString(port_.describe()));
}

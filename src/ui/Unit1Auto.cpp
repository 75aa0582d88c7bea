#include "ui/Unit1Auto.h"

#include "files/file_access.h"
#include "i2c/eeprom_types.h"
#include "spi/flash_voltage.h"
#include "ui/QtHost.h"
#include "ui/Unit1.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>

namespace {

// The grid layout under `layout` that holds `widget`, or null.
QGridLayout* GridHolding(QLayout* layout, QWidget* widget)
{
    if (!layout)
        return nullptr;
    if (auto* grid = qobject_cast<QGridLayout*>(layout); grid && grid->indexOf(widget) >= 0)
        return grid;
    for (int i = 0; i < layout->count(); ++i)
        if (QGridLayout* found = GridHolding(layout->itemAt(i)->layout(), widget))
            return found;
    return nullptr;
}

std::string EncodedName(const QString& name)
{
    return QFile::encodeName(name).toStdString();
}

} // namespace

AutoPanel::AutoPanel(TVentana& window) : QObject(&window), window_(window)
{
    // The Program menu: the project commands above Close.
    auto* menu = window.menuBar()->findChild<QMenu*>(QStringLiteral("Program1"));
    QAction* close = window.Close1;
    OpenProject1 = new QAction(QStringLiteral("&Open project..."), &window);
    OpenProject1->setObjectName(QStringLiteral("OpenProject1"));
    SaveProject1 = new QAction(QStringLiteral("&Save project as..."), &window);
    SaveProject1->setObjectName(QStringLiteral("SaveProject1"));
    Auto1 = new QAction(QStringLiteral("&Auto"), &window);
    Auto1->setObjectName(QStringLiteral("Auto1"));
    Auto1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    menu->insertActions(close, {OpenProject1, SaveProject1});
    menu->insertSeparator(close);
    menu->insertAction(close, Auto1);
    menu->insertSeparator(close);
    connect(OpenProject1, &QAction::triggered, this, &AutoPanel::OpenProject1Click);
    connect(SaveProject1, &QAction::triggered, this, &AutoPanel::SaveProject1Click);
    connect(Auto1, &QAction::triggered, this, &AutoPanel::btnAutoClick);

    // The AVR page: in the PROGRAM column's free place below "Program internal eeprom".
    btnAuto = new QToolButton(window.tsAvr);
    btnAuto->setObjectName(QStringLiteral("btnAuto"));
    btnAuto->setText(QStringLiteral("Auto"));
    btnAuto->setIcon(window.style()->standardIcon(QStyle::SP_MediaPlay));
    btnAuto->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    btnAuto->setFixedSize(169, 49);
    btnAuto->setToolTip(QStringLiteral(
        "Erase, program and verify flash and EEPROM, then fuses and lock bits, as the open "
        "project says (Ctrl+R)"));
    btnAuto->setFocusPolicy(Qt::StrongFocus);
    connect(btnAuto, &QToolButton::clicked, this, &AutoPanel::btnAutoClick);
    if (QGridLayout* grid = GridHolding(window.tsAvr->layout(), window.btnBorrar)) {
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(grid->indexOf(window.btnBorrar), &row, &column, &rows, &columns);
        grid->addWidget(btnAuto, row + 3, column);
    }

    // The EEPROM page: at the end of its toolbar.
    window.ToolBar1->addSeparator();
    ToolButtonAuto = window.ToolBar1->addAction(window.style()->standardIcon(QStyle::SP_MediaPlay),
                                                QStringLiteral("Auto"));
    ToolButtonAuto->setObjectName(QStringLiteral("ToolButtonAuto"));
    ToolButtonAuto->setToolTip(
        QStringLiteral("Program and verify the chip as the open project says (Ctrl+R)"));
    connect(ToolButtonAuto, &QAction::triggered, this, &AutoPanel::btnAutoClick);

    lbProject = new QLabel(&window);
    lbProject->setObjectName(QStringLiteral("lbProject"));
    window.statusBar()->addPermanentWidget(lbProject);

    PD = new QFileDialog(&window, QStringLiteral("Open project"));
    PD->setObjectName(QStringLiteral("PD"));
    PD->setOption(QFileDialog::DontUseNativeDialog);
    PD->setNameFilters(
        {QStringLiteral("Vardel projects (*.vardel)"), QStringLiteral("All files (*)")});
    PD->setDefaultSuffix(QStringLiteral("vardel"));
    showProject();
}

void AutoPanel::setEnabled(bool enabled)
{
    for (QAction* a : {OpenProject1, SaveProject1, Auto1, ToolButtonAuto})
        a->setEnabled(enabled);
    btnAuto->setEnabled(enabled);
}

void AutoPanel::showProject()
{
    SaveProject1->setEnabled(job_.has_value());
    if (!job_) {
        lbProject->setText(QStringLiteral("No project"));
        return;
    }
    const vardel::Project& p = job_->project;
    QString text = QStringLiteral("Project: %1 (%2)")
                       .arg(QFileInfo(QString::fromStdString(job_->fileName)).fileName(),
                            QString::fromStdString(p.part));
    if (p.serial)
        text += QStringLiteral(", next serial number: %1").arg(p.serial->next);
    if (counts_.total())
        text += QStringLiteral("; batch: %1 good, %2 failed, %3 refused")
                    .arg(counts_.good)
                    .arg(counts_.failed)
                    .arg(counts_.refused);
    lbProject->setText(text);
}

bool AutoPanel::openProject(const std::string& fileName, bool hold)
{
    vardel::AutoJobLoad load = vardel::LoadAutoJob(fileName, hold);
    if (!load.ok() || load.job.oneImage) {
        static_cast<vardel::Host&>(window_.host())
            .MessageBox(load.ok() ? fileName + ": not a project file" : load.error, "ERROR",
                        vardel::Host::Kind::Error);
        return false;
    }
    job_ = std::move(load.job);
    showProject();
    for (const std::string& note : load.notes)
        window_.host().StatusText(note);
    return true;
}

void AutoPanel::OpenProject1Click()
{
    if (window_.operations().busy())
        return;
    PD->setWindowTitle(QStringLiteral("Open project"));
    PD->setAcceptMode(QFileDialog::AcceptOpen);
    PD->setFileMode(QFileDialog::ExistingFile);
    if (!window_.runFileDialog(*PD))
        return;
    // A project opened starts a batch of its own, with its images as they are now.
    if (openProject(EncodedName(PD->selectedFiles().constFirst()))) {
        counts_ = {};
        batchImages_ = job_->images;
        std::string images;
        for (const std::string& image : vardel::ImagesText(*job_))
            images += (images.empty() ? "Images: " : ", ") + image;
        if (!images.empty())
            window_.host().StatusText(images);
    }
    showProject();
}

void AutoPanel::SaveProject1Click()
{
    if (!job_ || window_.operations().busy())
        return;
    PD->setWindowTitle(QStringLiteral("Save project as"));
    PD->setAcceptMode(QFileDialog::AcceptSave);
    PD->setFileMode(QFileDialog::AnyFile);
    if (!window_.runFileDialog(*PD))
        return;
    const QString target = PD->selectedFiles().constFirst();
    const QString from = QFileInfo(QString::fromStdString(job_->fileName)).absolutePath();
    const QString to = QFileInfo(target).absolutePath();
    // In the same folder the text is kept as written; elsewhere the file names are made relative
    // to the new folder.
    std::string text = job_->text;
    if (QDir(from) != QDir(to)) {
        vardel::Project p = job_->project;
        for (std::string* name : {&p.flash, &p.eeprom, &p.log})
            if (!name->empty())
                *name = QDir(to)
                            .relativeFilePath(
                                QDir(from).absoluteFilePath(QString::fromStdString(*name)))
                            .toStdString();
        text = vardel::ProjectText(p);
    }
    std::string error;
    if (!vardel::ReplaceFileContent(EncodedName(target), text.data(), text.size(), &error)) {
        static_cast<vardel::Host&>(window_.host())
            .MessageBox("The project could not be saved: " + error, "ERROR",
                        vardel::Host::Kind::Error);
        return;
    }
    // The saved file is the project from now on: its serial numbers go on from there.
    openProject(EncodedName(target));
}

void AutoPanel::btnAutoClick()
{
    if (window_.operations().busy())
        return;
    if (!job_) {
        OpenProject1Click();
        if (!job_)
            return;
    }
    // The project and its images are read afresh: a file rebuilt since counts. The project is
    // held for the run: another station's run on it waits.
    if (!openProject(job_->fileName, true))
        return;
    // An image rebuilt since the batch began is used only once the user agrees to a new batch.
    for (const vardel::AutoJob::ImageStamp& now : job_->images) {
        const auto then =
            std::ranges::find(batchImages_, now.fileName, &vardel::AutoJob::ImageStamp::fileName);
        if (then == batchImages_.end() || then->crc == now.crc)
            continue;
        char crcs[64];
        std::snprintf(crcs, sizeof crcs, "CRC-32 0x%08X, now 0x%08X", then->crc, now.crc);
        if (static_cast<vardel::Host&>(window_.host())
                .MessageBox(now.fileName + " has changed since the batch began (" + crcs +
                                ").\rStart a new batch with the new content?",
                            "WARNING:", vardel::Host::Kind::Question,
                            vardel::Host::Buttons::OkCancelDefaultCancel) !=
            vardel::Host::Result::Ok) {
            job_->hold.reset();
            return;
        }
        counts_ = {};
        break;
    }
    batchImages_ = job_->images;
    // A log that cannot take the run's line is found before the chip takes a number.
    if (!job_->logFile.empty())
        if (const std::string why = vardel::CheckLogFile(job_->logFile); !why.empty()) {
            job_->hold.reset();
            static_cast<vardel::Host&>(window_.host())
                .MessageBox(why + ".\rNothing was written.", "ERROR", vardel::Host::Kind::Error);
            return;
        }
    // A project runs on its own socket's page only: the page shows the chip it programs.
    const bool avr = job_->project.socket == vardel::ProjectSocket::Avr;
    QWidget* own = avr ? window_.tsAvr : window_.tsEeprom;
    QWidget* shown = window_.PageControl1->currentWidget();
    if (shown != own && (shown == window_.tsAvr || shown == window_.tsEeprom)) {
        job_->hold.reset();
        static_cast<vardel::Host&>(window_.host())
            .MessageBox(std::string("The open project is for the ") +
                            (avr ? "AVR socket"
                             : job_->project.socket == vardel::ProjectSocket::SpiFlash
                                 ? "SPI flash on the 24CXXX page"
                                 : "24CXXX socket") +
                            ": switch to its page to run it.\rNothing was written.",
                        "ERROR", vardel::Host::Kind::Error);
        return;
    }
    if (job_->project.socket == vardel::ProjectSocket::SpiFlash)
        vardel::WarnFlashVoltageOnce(window_.port_, window_.settings_, window_.host());
    vardel::AutoRun::Result result = vardel::AutoRun::Result::Refused;
    std::string done;
    setEnabled(false);
    window_.runChipCommand([this, &result, &done] {
        window_.forgetEepromDifferences();
        vardel::AutoRun run(window_.lines(), window_.clock_, window_.timing(), window_.host(),
                            window_.operations());
        // The project's allow-lockout decides; the write still asks, Cancel the default.
        run.allowLockout = true;
        run.avrPace = vardel::AvrPaceSettings::Read(window_.settings_);
        run.station = vardel::StationName(window_.port_.describe());
        run.batchIndex = counts_.total() + 1;
        // Closing the window stops the step in hand, and the run with it.
        run.stopRequested = [this] {
            return window_.closePending_;
        };
        result = run.run(*job_);
        if (result == vardel::AutoRun::Result::Ok) {
            done = run.partName() + " programmed and verified";
            if (run.serial())
                done += ", serial number " + std::to_string(*run.serial());
            window_.host().StatusText(done);
            static_cast<vardel::Host&>(window_.host())
                .MessageBox(done + ".", "OK", vardel::Host::Kind::Success);
        }
    });
    job_->hold.reset();
    setEnabled(true);
    // A cancelled chip was never started: the batch counts what was tried.
    if (result == vardel::AutoRun::Result::Ok)
        ++counts_.good;
    else if (result == vardel::AutoRun::Result::Failed)
        ++counts_.failed;
    else if (result == vardel::AutoRun::Result::Refused)
        ++counts_.refused;
    showProject();
    // The AVR page shows the chip as it now is: its type, and its lock and fuse bits in the
    // editors, read from the chip.
    if (avr && result == vardel::AutoRun::Result::Ok)
        window_.identify();
    // The EEPROM page shows the chip's type and, in the grid, what the chip now holds; the status
    // line keeps the run's outcome. A flash is not read back: on a parallel port that takes
    // minutes a chip.
    if (!avr && result == vardel::AutoRun::Result::Ok &&
        job_->project.socket != vardel::ProjectSocket::SpiFlash) {
        window_.cbChip->setCurrentIndex(vardel::FindEepromType(job_->project.part));
        window_.runChipCommand([this] { window_.eeprom_->ReadChip(); });
        window_.host().StatusText(done);
    }
}

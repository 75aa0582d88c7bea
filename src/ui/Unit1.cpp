#include "ui/Unit1.h"

#include "hw/clock.h"
#include "hw/hardware_check.h"
#include "hw/port_io.h"
#include "hw/settings.h"
#include "hw/startup.h"
#include "ui/QtHost.h"
#include "ui/UnAbout.h"
#include "ui/Unit2.h"
#include "ui/Unit3.h"
#include "ui/unManual.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

TVentana* Ventana = nullptr;

namespace {
const char* kCaption = "Vardel v1.2  by Tobren      -== BETATEST VERSION ==-";

// The folder setting holds the dialog's last file name; the dialog opens in that file's folder.
QString initialFolder(const std::string& stored)
{
    const QString text = QString::fromStdString(stored);
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
    lbBoard->setText(QStringLiteral("Board: ") + QString::fromStdString(port_.describe()));

    buildMenu();
    buildFileDialogs();
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
    auto answer = std::move(host_->answerMessage);
    host_ = std::make_unique<QtHost>(this, progress_);
    host_->answerMessage = std::move(answer);
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
    OD->setNameFilters({QStringLiteral("Intel HEX files (*.hex)"),
                        QStringLiteral("Binary files (*.bin)")});
    OD->setDefaultSuffix(QStringLiteral("hex"));

    SD = new QFileDialog(this, QStringLiteral("Save file"));
    SD->setObjectName(QStringLiteral("SD"));
    SD->setOption(QFileDialog::DontUseNativeDialog);
    SD->setAcceptMode(QFileDialog::AcceptSave);
    SD->setFileMode(QFileDialog::AnyFile);
    SD->setNameFilters({QStringLiteral("Intel HEX files(*.hex)"),
                        QStringLiteral("Binary files (*.bin)")});
    SD->setDefaultSuffix(QStringLiteral("hex"));
}

void TVentana::FormCreate()
{
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
    return dialog.property("lastFileName").toString().toStdString();
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

bool TVentana::runFileDialog(QFileDialog& dialog)
{
    const bool chosen = execFileDialog ? execFileDialog(dialog) : dialog.exec() == QDialog::Accepted;
    if (chosen && !dialog.selectedFiles().isEmpty())
        dialog.setProperty("lastFileName", dialog.selectedFiles().constFirst());
    return chosen && !dialog.selectedFiles().isEmpty();
}

void TVentana::runChipCommand(const std::function<void()>& command)
{
    vardel::Operation operation(operations_);
    if (!operation.acquired())
        return;
    command();
    if (closePending_)
        QTimer::singleShot(0, this, &QWidget::close);
}

void TVentana::closeEvent(QCloseEvent* event)
{
    if (operations_.busy()) {
        // The running operation ends after the unit of work in hand, drives its lines low, and
        // the window closes then.
        closePending_ = true;
        operations_.requestStop();
        if (progress_)
            progress_->CancelFlag = 1;
        event->ignore();
        return;
    }
    closePending_ = false;
    QMainWindow::closeEvent(event);
}

void TVentana::Salir1Click() { close(); }

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
    runModal(*config_);
    // However the dialog was closed, the bar's position is the new factor.
    timing_.DelayFactor = config_->tb->value();
}

void TVentana::Checkearcorvid1Click()
{
    runChipCommand([this] { vardel::Checkearcorvid1Click(lines_, *host_); });
}

void TVentana::Comprobacionmanual1Click()
{
    if (!manual_ || operations_.busy())
        return;
    runModal(*manual_);
}

#include "files/scratch_folder.h"
#include "hw/settings.h"
#include "i2c/eeprom_page.h"
#include "program_fixture.h"
#include "sim/chips.h"
#include "sim/eeprom_24cxx.h"
#include "sim/serial_eeproms.h"
#include "sim/sim_board.h"
#include "ui/EepromGridModel.h"
#include "ui/QtHost.h"
#include "ui/SignalStop.h"
#include "ui/UnAbout.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui/Unit3.h"
#include "ui/unManual.h"

#include "avr/avr_page.h"
#include "avr/lock_fuse_editor.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>

using namespace vardel;
using vardel::test::FileInodes;

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void verifyMarksGoWhenImageOrChipChanges();
    void startUpState();
    void menusAndHints();
    void configurationDialog();
    void configurationDialogClampsStoredFactors();
    void openAndSaveRoundTrips();
    void openKeepsTheImageWhenTheFileIsUnusable();
    void closeSavesTheSettingsAndLeavesThePortLow();
    void hardwareCheck();
    void readingAChipFillsTheGrid();
    void cancelStopsARead();
    void programmingAProtected25xxAsksFirst();
    void commandsAreDisabledWhileAnOperationRuns();
    void closingDuringAReadEndsItCleanly();
    void aStopSignalDuringAReadEndsItCleanly();
    void sharesTheBoardFolderWithTheCommandLine();
    void theStatusBarSaysWhatHappened();
    void choosingTheSameTypeAgainKeepsTheImage();
    void theGridShowsOneImageDuringARead();
    void everyWindowFitsASmallScreen();
    void theAboutBoxShowsEveryTextWhole();
    void theProgressWindowIsAToolOfTheMainWindow();
    void messageBoxesCarryTheirIconAndWholeCaption();
    void theKeyboardReachesTheCommands();
    void aDialogShownAgainOpensWhereItWas();
    void theGridSaysWhatItShows();
};

namespace {
const int k24C04 = FindEepromType("24C04");
sim::Eeprom24Cxx* insertChip(Program& p, const char* type)
{
    auto chip = std::make_unique<sim::Eeprom24Cxx>(*sim::Eeprom24Cxx::findType(type));
    auto* raw = chip.get();
    for (std::size_t i = 0; i < raw->memory().size(); ++i)
        raw->memory()[i] = std::uint8_t(0x41 + i % 26);
    p.board.insertEeprom(std::move(chip));
    return raw;
}
} // namespace

void MainWindowTest::readingAChipFillsTheGrid()
{
    Program p;
    insertChip(p, "24C04");
    TVentana& w = *p.ventana;
    w.PageControl1->setCurrentIndex(1);
    w.cbChip->setCurrentIndex(k24C04);
    w.cbChipChange(k24C04);
    w.ToolButton3->trigger();
    QCOMPARE(p.messages, QStringList());
    QCOMPARE(w.SG->model()->rowCount(), 64);
    QCOMPARE(w.SG->model()->index(0, 1).data().toString(), QStringLiteral("41"));
    QCOMPARE(w.SG->model()->index(0, 10).data().toString(), QStringLiteral("B"));
    QCOMPARE(w.SG->model()->index(63, 0).data().toString(), QStringLiteral("01F8"));
    QCOMPARE(w.SG->model()->index(63, 8).data().toString(),
             QString::asprintf("%02X", 0x41 + 511 % 26));
    QCOMPARE(p.progreso->lbProg->text(), QStringLiteral("511 bytes read..."));
    QCOMPARE(p.progreso->Progreso->value(), 100);
    QVERIFY(!p.progreso->isVisible());
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(p.board.data(), std::uint8_t(0x00));
}

void MainWindowTest::programmingAProtected25xxAsksFirst()
{
    Program p;
    auto chip = std::make_unique<sim::Eeprom25xx>(*sim::Eeprom25xx::findType("25128"));
    auto* raw = chip.get();
    std::string error;
    QVERIFY(raw->set("eeprom.status", "8C", error));
    p.board.insertAvr(std::move(chip));
    TVentana& w = *p.ventana;
    w.PageControl1->setCurrentIndex(1);
    w.cbChip->setCurrentIndex(FindEepromType("25128"));
    std::fill_n(w.eeprom().EepromImage.begin(), 16384, 0x3C);
    // Cancel, the default, leaves the chip as it is; OK clears the bits and programs it.
    for (const Host::Result answer : {Host::Result::Cancel, Host::Result::Ok}) {
        bool asked = false;
        w.host().answerMessage = [&](const std::string& text, const std::string& caption,
                                     Host::Buttons buttons, Host::Icon) {
            asked = caption == "WARNING:" && buttons == Host::Buttons::OkCancelDefaultCancel &&
                    text.find("from 0x0000 to 0x3FFF") != std::string::npos &&
                    p.board.data() == 0x00;
            return answer;
        };
        w.ToolButton4->trigger();
        QVERIFY(asked);
        QCOMPARE(raw->memory() == std::vector<std::uint8_t>(16384, 0x3C),
                 answer == Host::Result::Ok);
        QCOMPARE(int(raw->status()), answer == Host::Result::Ok ? 0x80 : 0x8C);
        QVERIFY(w.ToolButton4->isEnabled());
        QCOMPARE(p.board.data(), std::uint8_t(0x00));
    }
}

void MainWindowTest::cancelStopsARead()
{
    Program p;
    insertChip(p, "24C128");
    TVentana& w = *p.ventana;
    w.eeprom().EepromImage[10000] = 0x00;
    bool pressed = false;
    QObject::connect(p.progreso->Progreso, &QProgressBar::valueChanged, p.progreso.get(),
                     [&](int v) {
                         // Escape in the progress window is Cancel.
                         if (v == 10 && !pressed) {
                             pressed = true;
                             QTest::keyClick(p.progreso.get(), Qt::Key_Escape);
                         }
                     });
    w.ToolButton3->trigger();
    QVERIFY(!p.progreso->isVisible());
    QCOMPARE(p.messages, QStringList());
    QCOMPARE(w.eeprom().EepromImage[0], std::uint8_t(0x41));
    QCOMPARE(w.eeprom().EepromImage[10000], std::uint8_t(0x00)); // not read
    QCOMPARE(p.board.data(), std::uint8_t(0x00));
    // The next operation starts with the flag cleared and runs to its end.
    w.ToolButton3->trigger();
    QCOMPARE(p.progreso->CancelFlag, 0);
    QCOMPARE(p.progreso->lbProg->text(), QStringLiteral("16383 bytes read..."));
}

void MainWindowTest::commandsAreDisabledWhileAnOperationRuns()
{
    Program p;
    TVentana& w = *p.ventana;
    w.cbChipChange(k24C04);
    sim::Eeprom24Cxx* chip = insertChip(p, "24C04");
    const std::vector<std::uint8_t> before = chip->memory();
    bool sawDisabled = false;
    bool cancelLive = false;
    long accessesBySecond = -1;
    int startsBySecond = -1;
    QObject::connect(p.progreso->Progreso, &QProgressBar::valueChanged, p.progreso.get(),
                     [&](int v) {
                         if (v != 50)
                             return;
                         sawDisabled = !w.ToolButton3->isEnabled() && !w.ToolButton4->isEnabled() &&
                                       !w.cbChip->isEnabled() && !w.tsAvr->isEnabled();
                         cancelLive = p.progreso->btnCancelar->isEnabled();
                         // A second command started from here does nothing: not one access to
                         // the port, no START on the bus.
                         const long accesses = p.port.accesses;
                         const int starts = p.port.starts;
                         w.Grabarchip1Click();
                         w.Verificar1Click();
                         accessesBySecond = p.port.accesses - accesses;
                         startsBySecond = p.port.starts - starts;
                     });
    w.ToolButton3->trigger();
    QVERIFY(sawDisabled);
    QVERIFY(cancelLive);
    QCOMPARE(accessesBySecond, 0L);
    QCOMPARE(startsBySecond, 0);
    // The read addressed the chip once (START, then the repeated START) and wrote nothing.
    QCOMPARE(p.port.starts, 2);
    QVERIFY(chip->memory() == before);
    QVERIFY(w.ToolButton3->isEnabled());
    QVERIFY(w.cbChip->isEnabled());
    QCOMPARE(p.messages, QStringList());
}

void MainWindowTest::closingDuringAReadEndsItCleanly()
{
    Program p(QStringLiteral("3"));
    insertChip(p, "24C256");
    TVentana& w = *p.ventana;
    w.show();
    // The first close is answered Cancel: the read goes on. The second is answered OK.
    Host::Result answer = Host::Result::Cancel;
    QStringList asked;
    w.host().answerMessage = [&](const std::string& text, const std::string& caption, Host::Buttons,
                                 Host::Icon) {
        asked << QString::fromStdString(caption + "|" + text);
        return answer;
    };
    int reached = 0;
    QObject::connect(p.progreso->Progreso, &QProgressBar::valueChanged, p.progreso.get(),
                     [&](int v) {
                         reached = v;
                         if (v == 5 || v == 8)
                             w.close();
                         if (v == 5)
                             answer = Host::Result::Ok;
                     });
    w.ToolButton3->trigger();
    QCOMPARE(reached, 8);
    QCOMPARE(asked.size(), 2);
    QVERIFY2(asked[0].startsWith(QStringLiteral("WARNING:|A chip operation is running.")),
             qPrintable(asked[0]));
    for (int i = 0; i < 10 && w.isVisible(); ++i)
        QCoreApplication::processEvents();
    QVERIFY(!w.isVisible());
    QVERIFY(!p.progreso->isVisible());
    QCOMPARE(p.board.data(), std::uint8_t(0x00));
    p.stop();
    auto store = p.reopenStore();
    QCOMPARE(store->ReadString("RETARDO", ""), std::string("3"));
}

void MainWindowTest::aStopSignalDuringAReadEndsItCleanly()
{
    Program p(QStringLiteral("3"));
    insertChip(p, "24C256");
    TVentana& w = *p.ventana;
    SignalStop stop(w);
    w.show();
    QObject::connect(p.progreso->Progreso, &QProgressBar::valueChanged, p.progreso.get(),
                     [&](int v) {
                         if (v == 5)
                             ::raise(SIGTERM);
                     });
    w.ToolButton3->trigger();
    for (int i = 0; i < 10 && w.isVisible(); ++i)
        QCoreApplication::processEvents();
    // The process lives on after the handler: the window stopped the read, dropped the lines and
    // closed, and the program's own exit follows.
    QCOMPARE(SignalStop::received(), SIGTERM);
    QVERIFY(!w.isVisible());
    QCOMPARE(p.board.data(), std::uint8_t(0x00));
    QVERIFY(w.lbStatus->text().startsWith(QStringLiteral("Read cancelled at 0x")));
    p.stop();
    QCOMPARE(p.reopenStore()->ReadString("RETARDO", ""), std::string("3"));
}

void MainWindowTest::startUpState()
{
    Program p;
    TVentana& w = *p.ventana;
    QCOMPARE(w.windowTitle(),
             QStringLiteral("Vardel v1.2  by Tobren      -== BETATEST VERSION ==-"));
    QCOMPARE(w.PageControl1->count(), 2);
    QCOMPARE(w.PageControl1->tabText(0), QStringLiteral("AT90SXXXX , ATmega"));
    QCOMPARE(w.PageControl1->tabText(1), QStringLiteral("24CXXX"));
    QCOMPARE(w.PageControl1->currentIndex(), 0);
    QCOMPARE(w.cbChip->currentText(), QStringLiteral("24C128 -16 kb"));
    QCOMPARE(w.cbChip->count(), int(EepromList().size()));
    QCOMPARE(w.cbChip->itemText(11), QStringLiteral("25010 - 128 b"));
    QCOMPARE(w.cbChip->itemText(0), QStringLiteral("24C01 - 128 b"));
    QCOMPARE(w.cbChip->itemText(1), QStringLiteral("24C02 - 256 b"));
    QCOMPARE(w.cbChip->itemText(10), QStringLiteral("24C1024 - 128 kb"));
    QCOMPARE(w.eeprom().ChipSize, 16384);
    QCOMPARE(w.SG->model()->rowCount(), 2048);
    QCOMPARE(w.SG->model()->columnCount(), 17);
    QCOMPARE(w.SG->model()->index(2047, 0).data().toString(), QStringLiteral("3FF8"));
    QCOMPARE(w.SG->model()->index(100, 3).data().toString(), QStringLiteral("FF"));
    QVERIFY(w.SG->columnWidth(0) > w.SG->columnWidth(1));
    // The 24C1024's upper half shows five-digit addresses, and they fit their column.
    w.cbChip->setCurrentIndex(10);
    w.cbChipChange(10);
    QCOMPARE(w.SG->model()->rowCount(), 16384);
    QCOMPARE(w.SG->model()->index(8191, 0).data().toString(), QStringLiteral("FFF8"));
    QCOMPARE(w.SG->model()->index(8192, 0).data().toString(), QStringLiteral("10000"));
    QCOMPARE(w.SG->model()->index(16383, 0).data().toString(), QStringLiteral("1FFF8"));
    QVERIFY(QFontMetrics(w.SG->font()).horizontalAdvance(QStringLiteral("1FFF8")) <
            w.SG->columnWidth(0));
    QVERIFY(w.SG->columnWidth(1) > w.SG->columnWidth(9));
    // Nothing reaches the port while the window is created.
    QCOMPARE(p.port.accesses, 0L);
    QVERIFY(w.lbBoard->text().contains(QStringLiteral("simulated board")));
    QVERIFY(!p.about->isVisible());
    QVERIFY(!p.progreso->isVisible());
    QCOMPARE(p.progreso->windowTitle(), QStringLiteral("Progress..."));
    QCOMPARE(p.progreso->btnCancelar->text(), QStringLiteral("Cancel..."));
}

void MainWindowTest::menusAndHints()
{
    Program p;
    TVentana& w = *p.ventana;
    const auto menus = w.menuBar()->actions();
    QCOMPARE(menus.size(), 3);
    QCOMPARE(menus[0]->text(), QStringLiteral("&Program"));
    QCOMPARE(menus[1]->text(), QStringLiteral("&Hardware"));
    QCOMPARE(menus[2]->text(), QStringLiteral("H&elp"));
    QStringList visible;
    for (QAction* a : menus[1]->menu()->actions())
        if (a->isVisible())
            visible << a->text();
    QCOMPARE(visible, QStringList{QStringLiteral("&Configuration")});
    QCOMPARE(menus[1]->menu()->actions().size(), 4);
    QStringList program;
    for (QAction* a : menus[0]->menu()->actions())
        program << (a->isSeparator() ? QStringLiteral("|") : a->text());
    QCOMPARE(program,
             (QStringList{"&Open project...", "&Save project as...", "|", "&Auto", "|", "&Close"}));
    QCOMPARE(menus[2]->menu()->actions().constFirst()->text(), QStringLiteral("&About"));

    QStringList hints;
    for (QAction* a : w.ToolBar1->actions())
        hints << (a->isSeparator() ? QStringLiteral("|") : a->toolTip());
    // Each hint names the command's key.
    QCOMPARE(hints,
             (QStringList{"Open file... (Ctrl+O)", "Save File... (Ctrl+S)", "|", "Read chip (F5)",
                          "Program chip (F6)", "|", "Verify chip (F7)", "Erase chip (ERAL)", "|",
                          "Next difference (F8)", "Previous difference (Shift+F8)", "|", "About...",
                          "|", "Program and verify the chip as the open project says (Ctrl+R)"}));
    // The erase-all is there for the 93Cxx types only.
    for (const char* type : {"24C04", "25256", "93C46x16"}) {
        w.cbChip->setCurrentIndex(vardel::FindEepromType(type));
        QCOMPARE(w.btnEraseAll->isVisible(), type[0] == '9');
    }
    // The About box opens from the menu and from the toolbar.
    w.Acercade1->trigger();
    w.ToolButton6->trigger();
    QCOMPARE(p.dialogs, (QStringList{"About...", "About..."}));
}

void MainWindowTest::configurationDialog()
{
    Program p(QStringLiteral("7"));
    TVentana& w = *p.ventana;
    QCOMPARE(w.timing().DelayFactor, 7);
    int shown = -1;
    QString label;
    w.execModal = [&](QDialog& d) {
        p.config->show(); // runs FormShow
        shown = p.config->tb->value();
        label = p.config->lbTB->text();
        p.config->hide();
        Q_UNUSED(d);
        return int(QDialog::Accepted);
    };
    w.Configuracion2->trigger();
    QCOMPARE(shown, 7);
    QCOMPARE(label, QStringLiteral("7"));
    QCOMPARE(w.timing().DelayFactor, 7);
    // Moving the thumb and closing by the title bar keeps the new position.
    w.execModal = [&](QDialog&) {
        p.config->tb->setValue(12);
        label = p.config->lbTB->text();
        return int(QDialog::Rejected);
    };
    w.Configuracion2->trigger();
    QCOMPARE(label, QStringLiteral("12"));
    QCOMPARE(w.timing().DelayFactor, 12);
    // Escape does nothing.
    p.config->show();
    QTest::keyClick(p.config.get(), Qt::Key_Escape);
    QVERIFY(p.config->isVisible());
    p.config->hide();
    QCOMPARE(p.config->btnAccept->text(), QStringLiteral("ACCEPT"));
    QVERIFY(p.config->btnAccept->isDefault());
    // The GPIO map is kept at once; text that is no map is refused with the reason.
    for (const char* typed : {"d0=17,d1=17,d2=17,d3=23,d4=24,d5=25,d6=5,in=6", "d0=x"}) {
        w.execModal = [&](QDialog&) {
            p.config->edGpioMap->setText(QString::fromLatin1(typed));
            return int(QDialog::Accepted);
        };
        w.Configuracion2->trigger();
        QCOMPARE(p.reopenStore()->ReadString("GPIO_MAP", ""),
                 std::string("d0=17,d1=17,d2=17,d3=23,d4=24,d5=25,d6=5,in=6"));
    }
    QCOMPARE(p.messages.size(), 1);
    QVERIFY(p.messages[0].startsWith(QStringLiteral(
        "ERROR|The GPIO map was not kept: 'd0=x' in the GPIO map is not NAME=LINE")));
    // The safe AVR pace is kept at once, and the AVR page's next session keeps XTAL pulses.
    for (const bool safe : {true, false}) {
        w.execModal = [&](QDialog&) {
            p.config->cbSafePace->setChecked(safe);
            return int(QDialog::Accepted);
        };
        w.Configuracion2->trigger();
        QCOMPARE(p.reopenStore()->ReadInteger("AVR_SAFE_PACE", -1), safe ? 1 : 0);
        QCOMPARE(w.avr().serial().safePace(), safe);
    }
    // In the dialog itself, ACCEPT on a map that is none keeps it open with the typed text and
    // says what is wrong; a map closes it.
    p.config->show();
    for (const char* typed : {"d0=x", "d0=17,d1=17,d2=17,d3=23,d4=24,d5=25,d6=5,in=6"}) {
        p.config->edGpioMap->setText(QString::fromLatin1(typed));
        p.config->btnAccept->click();
        const bool map = typed[3] != 'x';
        QCOMPARE(p.config->isVisible(), !map);
        QCOMPARE(p.config->edGpioMap->text(), QString::fromLatin1(typed));
        QCOMPARE(p.config->lbGpioError->isVisible(), !map);
        if (!map)
            QVERIFY2(p.config->lbGpioError->text().contains(
                         QStringLiteral("'d0=x' in the GPIO map is not NAME=LINE")),
                     qPrintable(p.config->lbGpioError->text()));
    }
}

void MainWindowTest::configurationDialogClampsStoredFactors()
{
    {
        Program p(QStringLiteral("80"));
        QCOMPARE(p.ventana->timing().DelayFactor, 80); // used unchanged until the dialog opens
        p.ventana->Configuracion2->trigger();
        QCOMPARE(p.ventana->timing().DelayFactor, 50);
    }
    {
        Program p(QStringLiteral("0"));
        p.ventana->Configuracion2->trigger();
        QCOMPARE(p.ventana->timing().DelayFactor, 1);
    }
}

void MainWindowTest::openAndSaveRoundTrips()
{
    Program p;
    TVentana& w = *p.ventana;
    w.cbChip->setCurrentIndex(k24C04);
    w.cbChipChange(k24C04);
    QCOMPARE(w.SG->model()->rowCount(), 64);
    for (int i = 0; i < 512; ++i)
        w.eeprom().EepromImage[i] = std::uint8_t(i * 3 + 1);
    for (const char* name : {"/image.bin", "/image.hex"}) {
        const QString file = p.dir.path() + QLatin1String(name);
        p.nextFile = file;
        w.ToolButton2->trigger();
        QVERIFY(QFile::exists(file));
        const QByteArray saved = readFile(file);
        w.cbChipChange(k24C04); // all FF again
        QCOMPARE(w.SG->model()->index(0, 1).data().toString(), QStringLiteral("FF"));
        w.ToolButton1->trigger();
        for (int i = 0; i < 512; ++i)
            QCOMPARE(w.eeprom().EepromImage[i], std::uint8_t(i * 3 + 1));
        QCOMPARE(w.SG->model()->index(0, 1).data().toString(), QStringLiteral("01"));
        QCOMPARE(w.SG->model()->index(0, 2).data().toString(), QStringLiteral("04"));
        if (QByteArray(name).endsWith(".bin"))
            QCOMPARE(saved.size(), 512);
        else
            QCOMPARE(saved.count('\n'), 33); // 32 records and the end record
    }
    QCOMPARE(p.messages, QStringList());
    QCOMPARE(p.dialogs, (QStringList{"Save file", "Open file", "Save file", "Open file"}));
    // A cancelled dialog changes nothing.
    p.nextFile.clear();
    w.ToolButton1->trigger();
    QCOMPARE(w.eeprom().EepromImage[0], std::uint8_t(1));
}

void MainWindowTest::openKeepsTheImageWhenTheFileIsUnusable()
{
    Program p;
    TVentana& w = *p.ventana;
    w.eeprom().EepromImage[0] = 0x42;
    p.nextFile = p.dir.path() + "/missing.bin";
    w.ToolButton1->trigger();
    p.nextFile = p.dir.path() + "/notes.txt";
    w.ToolButton1->trigger();
    QCOMPARE(w.eeprom().EepromImage[0], std::uint8_t(0x42));
    QCOMPARE(p.messages.size(), 2);
    QVERIFY(p.messages[0].startsWith(QStringLiteral("ERROR|")));
    QVERIFY(p.messages[1].startsWith(QStringLiteral("ERROR|")));
    // A short BIN file warns that the rest is FF.
    QFile f(p.dir.path() + "/short.bin");
    f.open(QIODevice::WriteOnly);
    f.write("AB");
    f.close();
    p.nextFile = f.fileName();
    w.ToolButton1->trigger();
    QCOMPARE(p.messages.last(),
             QStringLiteral("WARNING:|File contains less data than processor can fit:\rFree space "
                            "will be filled by FF\rThe file holds 2 bytes, the 24C128 holds "
                            "16384."));
    QCOMPARE(w.SG->model()->index(0, 9).data().toString(), QStringLiteral("A"));
}

void MainWindowTest::closeSavesTheSettingsAndLeavesThePortLow()
{
    Program p(QStringLiteral("500"));
    p.board.DlPortWritePortUchar(LptDataPort, 0x5A);
    p.nextFile = p.dir.path() + "/x.bin";
    p.ventana->ToolButton2->trigger();
    p.ventana->show();
    p.ventana->Close1->trigger();
    QVERIFY(!p.ventana->isVisible());
    p.stop();
    QCOMPARE(p.board.data(), std::uint8_t(0x00));
    auto store = p.reopenStore();
    QCOMPARE(store->ReadString("RETARDO", ""), std::string("500"));
    QCOMPARE(store->ReadString("OPEN_DIR", ""), std::string("*.hex"));
    QCOMPARE(QString::fromStdString(store->ReadString("SAVE_DIR", "")), p.dir.path() + "/x.bin");
}

void MainWindowTest::hardwareCheck()
{
    Program p;
    p.ventana->Checkearcorvid1->trigger();
    QCOMPARE(p.messages, QStringList{QStringLiteral("OK|Corvid respond correct!!!")});
    QCOMPARE(p.board.data(), std::uint8_t(0x00));
}

namespace {
// The board as vardel-cli opens it: claimed for the run, or not at all.
std::unique_ptr<sim::Board> openAsTheCommandLine(const QString& folder, std::string& error)
{
    sim::BoardOptions options;
    options.port = "sim:" + folder.toStdString();
    options.virtualTime = true;
    options.folderWait = std::chrono::milliseconds(0);
    return sim::Board::open(options, error);
}
} // namespace

void MainWindowTest::sharesTheBoardFolderWithTheCommandLine()
{
    QTemporaryDir top;
    const QString folder = top.path() + "/board";
    Program p(QString(), folder);
    TVentana& w = *p.ventana;
    QCOMPARE(
        w.lbBoard->text(),
        QStringLiteral("Board: simulated board (EEPROM socket: 24C256; AVR socket: ATmega128)"));

    // vardel-cli, another process, takes the EEPROM out and puts in a chip known by its
    // signature while the window is open.
    {
        std::string error;
        auto cli = openAsTheCommandLine(folder, error);
        QVERIFY2(cli, error.c_str());
        cli->sim()->removeEeprom();
        cli->sim()->insertAvr(sim::MakeAvrChip("", "1E9999", error));
        QVERIFY2(cli->release(error), error.c_str());
    }
    const auto written = FileInodes(folder.toStdString());

    // The next operation works on the sockets as the folder has them, lets the folder go before
    // its result box appears (the box waits for the operation's end), and writes nothing back.
    bool freeAtTheMessage = false;
    const auto answer = w.host().answerMessage;
    w.host().answerMessage = [&](const std::string& text, const std::string& caption,
                                 Host::Buttons buttons, Host::Icon icon) {
        std::string error;
        freeAtTheMessage = openAsTheCommandLine(folder, error) != nullptr;
        return answer(text, caption, buttons, icon);
    };
    w.PageControl1->setCurrentIndex(1);
    w.ToolButton3->trigger();
    QVERIFY(freeAtTheMessage);
    w.host().answerMessage = answer;
    QCOMPARE(p.messages.size(), 1);
    QVERIFY2(p.messages[0].contains(QStringLiteral("(Didn't receive ACK)")),
             qPrintable(p.messages[0]));
    QCOMPARE(w.lbBoard->text(),
             QStringLiteral("Board: simulated board (EEPROM socket: empty; AVR socket: chip with "
                            "signature 1E 99 99)"));
    QCOMPARE(FileInodes(folder.toStdString()), written);

    // A board.ini damaged meanwhile: a message naming it, nothing runs, nothing is written.
    {
        QFile ini(folder + "/board.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write("eeprom = 24C04x\n");
    }
    const auto damaged = FileInodes(folder.toStdString());
    p.messages.clear();
    w.ToolButton3->trigger();
    QCOMPARE(p.messages,
             QStringList{"ERROR|" + folder +
                         "/board.ini, line 1: There is no serial EEPROM of type \"24C04x\"; the "
                         "types are 24C01, 24C02, 24C04, 24C08, 24C16, 24C32, 24C64, 24C128, "
                         "24C256, 24C512, 24C1024, 25010, 25020, 25040, 25080, 25160, 25320, "
                         "25640, 25128, 25256, 25512, 25LC1024, 93C46x8, 93C46x16, 93C56x8, "
                         "93C56x16, 93C66x8, 93C66x16, 93C76x8, 93C76x16, 93C86x8, 93C86x16"});
    QCOMPARE(readFile(folder + "/board.ini"), QByteArray("eeprom = 24C04x\n"));

    // Closing the window writes nothing either.
    p.stop();
    QCOMPARE(FileInodes(folder.toStdString()), damaged);
}

void MainWindowTest::theStatusBarSaysWhatHappened()
{
    Program p;
    sim::Eeprom24Cxx* chip = insertChip(p, "24C04");
    TVentana& w = *p.ventana;
    w.PageControl1->setCurrentIndex(1);
    QCOMPARE(w.OD->nameFilters().constFirst(), QStringLiteral("All supported files (*.hex *.bin)"));
    // A name without an ending, saved with the binary filter, is a binary file.
    const QString image = p.dir.path() + QStringLiteral("/image");
    const struct {
        std::function<void()> command;
        const char* status;
    } steps[] = {
        {[&] { w.cbChip->setCurrentIndex(k24C04); },
         "24C04 chosen: the image was cleared to FF (512 bytes)"},
        {[&] { w.ToolButton3->trigger(); }, "Read 512 bytes from 24C04 in "},
        {[&] {
             p.nextFile = image;
             w.SD->selectNameFilter(QStringLiteral("Binary files (*.bin)"));
             w.ToolButton2->trigger();
         },
         "Saved 512 bytes to image.bin"},
        {[&] {
             p.nextFile.clear();
             w.ToolButton1->trigger();
         },
         "Open cancelled: no file chosen, the image is unchanged"},
        {[&] {
             p.nextFile = image + QStringLiteral(".bin");
             w.ToolButton1->trigger();
         },
         "Opened image.bin into the 24C04 image (512 bytes)"},
        {[&] {
             p.nextFile = p.dir.path() + QStringLiteral("/missing.hex");
             w.ToolButton1->trigger();
         },
         "Open failed: missing.hex was not loaded, the image is unchanged"},
    };
    for (const auto& step : steps) {
        step.command();
        QVERIFY2(w.lbStatus->text().startsWith(QLatin1String(step.status)),
                 qPrintable(w.lbStatus->text()));
    }
    QCOMPARE(readFile(image + QStringLiteral(".bin")).size(), 512);
    // The message says what to try after its own text.
    QCOMPARE(p.messages.last(), QStringLiteral("ERROR|Can't open file!!\rCheck that the file "
                                               "exists and that you may read it."));

    // Five bytes of the chip change behind the program's back: the verify marks each in the grid,
    // selects the first, and F8 / Shift+F8 walk all of them, round to the other end.
    const int changed[] = {0x003, 0x0A0, 0x1AB, 0x1AC, 0x1FF};
    for (const int a : changed)
        chip->memory()[a] ^= 0x10;
    QVERIFY(!w.NextDifference->isEnabled());
    w.ToolButton5->trigger();
    QCOMPARE(w.lbStatus->text(),
             QStringLiteral("Verify found 5 differing bytes, the first at 0x0003"));
    QCOMPARE(p.messages.last(),
             QStringLiteral("VERIFICATION ERROR|Defference found at byte no.: 3"));
    QCOMPARE(w.SG->currentIndex(), w.SG->model()->index(0, 4));
    QVERIFY(w.NextDifference->isEnabled());
    const auto text = [&](int index) {
        const int a = changed[index];
        const int file = 0x41 + a % 26;
        return QString::asprintf("Difference %d of 5 at 0x%04X: file %02X, chip %02X", index + 1, a,
                                 file, file ^ 0x10);
    };
    for (const int index : {1, 2, 3, 4, 0, 1}) {
        w.NextDifference->trigger();
        QCOMPARE(w.lbStatus->text(), text(index));
        const QModelIndex cell = w.SG->currentIndex();
        QCOMPARE(cell.row() * 8 + cell.column() - 1, changed[index]);
        QVERIFY(cell.data(Qt::BackgroundRole).isValid());
        QCOMPARE(cell.data(Qt::ToolTipRole).toString(),
                 text(index).section(QLatin1String(" at "), 1));
    }
    for (const int index : {0, 4, 3}) {
        w.PreviousDifference->trigger();
        QCOMPARE(w.lbStatus->text(), text(index));
    }
    // Bytes that agree are not marked; a new image takes the marks away.
    QVERIFY(!w.SG->model()->index(0, 3).data(Qt::BackgroundRole).isValid());
    w.cbChip->setCurrentIndex(k24C04 + 1);
    QVERIFY(!w.NextDifference->isEnabled());
    QVERIFY(!w.SG->model()->index(0, 4).data(Qt::BackgroundRole).isValid());
}

// After a verify with differences, a command that makes the image or the chip another takes the
// marks away, and F8 has nothing left to step: Read, Program, a verify without difference.
void MainWindowTest::verifyMarksGoWhenImageOrChipChanges()
{
    for (const int command : {3, 4, 5}) {
        Program p;
        TVentana& w = *p.ventana;
        sim::Eeprom24Cxx* chip = insertChip(p, "24C04");
        w.cbChip->setCurrentIndex(k24C04);
        w.ToolButton3->trigger();
        chip->memory()[5] ^= 0x10;
        w.ToolButton5->trigger();
        QVERIFY(w.NextDifference->isEnabled());
        chip->memory()[5] ^= command == 5 ? 0x10 : 0;
        (command == 3 ? w.ToolButton3 : command == 4 ? w.ToolButton4 : w.ToolButton5)->trigger();
        const QString status = w.lbStatus->text();
        QVERIFY(!w.SG->model()->index(0, 6).data(Qt::BackgroundRole).isValid());
        w.nextDifferenceClick();
        QCOMPARE(w.lbStatus->text(), status);
    }
}

void MainWindowTest::choosingTheSameTypeAgainKeepsTheImage()
{
    Program p;
    insertChip(p, "24C04");
    TVentana& w = *p.ventana;
    w.cbChip->setCurrentIndex(k24C04);
    w.ToolButton3->trigger();
    QCOMPARE(w.eeprom().EepromImage[0], std::uint8_t(0x41));
    // The user picks the entry already shown: the list reports it as activated, but the type did
    // not change and the image just read stays.
    emit w.cbChip->activated(k24C04);
    QCOMPARE(w.eeprom().EepromImage[0], std::uint8_t(0x41));
    QCOMPARE(w.SG->model()->index(0, 1).data().toString(), QStringLiteral("41"));
    // A real change of type clears it.
    w.cbChip->setCurrentIndex(k24C04 + 1);
    QCOMPARE(w.eeprom().ChipSize, 1024);
    QCOMPARE(w.eeprom().EepromImage[0], std::uint8_t(0xFF));
}

void MainWindowTest::theGridShowsOneImageDuringARead()
{
    Program p;
    insertChip(p, "24C04");
    TVentana& w = *p.ventana;
    w.cbChip->setCurrentIndex(k24C04);
    QStringList midway;
    QObject::connect(p.progreso->Progreso, &QProgressBar::valueChanged, p.progreso.get(),
                     [&](int v) {
                         if (v != 50)
                             return;
                         // Byte 0 is read by now, byte 511 is not; the grid shows neither.
                         QCOMPARE(w.eeprom().EepromImage[0], std::uint8_t(0x41));
                         midway << w.SG->model()->index(0, 1).data().toString()
                                << w.SG->model()->index(63, 8).data().toString();
                     });
    w.ToolButton3->trigger();
    QCOMPARE(midway, (QStringList{"FF", "FF"}));
    QCOMPARE(w.SG->model()->index(0, 1).data().toString(), QStringLiteral("41"));
}

void MainWindowTest::everyWindowFitsASmallScreen()
{
    Program p;
    TVentana& w = *p.ventana;
    w.show();
    // Each editor page in turn, and the EEPROM page: the window's smallest size fits a 1024 x 700
    // screen, and a 1600 x 1000 one at 150 % (1066 x 666 logical pixels, less a title bar).
    const char* pages[][4] = {
        {"Empty", nullptr, nullptr, nullptr},     {"ATmega128", "128", "LB128", nullptr},
        {"ATmega128", "163", "LB103", nullptr},   {"ATmega128", "161", "LB128", nullptr},
        {"ATmega128", "103", "LB103", nullptr},   {"AT90Sxxxx", nullptr, nullptr, "AT90Sxxxx"},
        {"AT90Sxxxx", nullptr, nullptr, "ATtiny"}};
    for (const auto& page : pages) {
        w.avr().model().selectPages(page[0], page[1], page[2], page[3]);
        QCoreApplication::processEvents();
        const QSize least = w.minimumSizeHint().expandedTo(w.minimumSize());
        QVERIFY2(
            least.width() <= 1024 && least.height() <= 636,
            qPrintable(QStringLiteral("%1/%2: %3 x %4")
                           .arg(QLatin1String(page[0]), QLatin1String(page[1] ? page[1] : page[3]))
                           .arg(least.width())
                           .arg(least.height())));
    }
    // The editors scroll, so the command columns stay whole at that size.
    w.resize(1024, 636);
    w.avr().model().selectPages("ATmega128", "128", "LB128");
    QCoreApplication::processEvents();
    for (QToolButton* b : {w.btnTestBlank, w.btnReadFuseBits, w.btnFuseBits})
        QVERIFY(w.tsAvr->rect().contains(QRect(b->mapTo(w.tsAvr, QPoint(0, 0)), b->size())));
    w.PageControl1->setCurrentIndex(1);
    QCoreApplication::processEvents();
    QVERIFY(w.minimumSizeHint().width() <= 1024 && w.minimumSizeHint().height() <= 636);
    for (QDialog* d : std::initializer_list<QDialog*>{p.about.get(), p.config.get(), p.manual.get(),
                                                      p.progreso.get()})
        QVERIFY(d->width() <= 1024 && d->height() <= 636);
}

void MainWindowTest::theAboutBoxShowsEveryTextWhole()
{
    Program p;
    TAboutBox& about = *p.about;
    // The title's family is an installed one and writes Latin letters, whatever the list's
    // first choice is on this system.
    const QFontInfo title(about.ProductName->font());
    QVERIFY2(!TAboutBox::isSymbolFamily(title.family()), qPrintable(title.family()));
    QVERIFY(QFontDatabase::families().contains(TAboutBox::titleFamily()));
    about.show();
    QCoreApplication::processEvents();
    for (QLabel* label : about.findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue;
        const QSize text = QFontMetrics(label->font()).size(0, label->text());
        QVERIFY2(text.width() <= label->width() && text.height() <= label->height(),
                 qPrintable(label->text()));
    }
    const auto texts = about.findChildren<QPlainTextEdit*>();
    QCOMPARE(texts.size(), 2);
    for (QPlainTextEdit* t : texts) {
        QVERIFY(t->isEnabled());
        QVERIFY(t->isReadOnly());
        QVERIFY2(t->toPlainText().contains(QStringLiteral("LPT port")) ||
                     t->toPlainText().contains(QStringLiteral("version 1.0")),
                 qPrintable(t->toPlainText()));
        // Every line fits the view: nothing to scroll to.
        QCOMPARE(t->verticalScrollBar()->maximum(), 0);
    }
    about.hide();
}

void MainWindowTest::theProgressWindowIsAToolOfTheMainWindow()
{
    Program p;
    const Qt::WindowFlags flags = p.progreso->windowFlags();
    QCOMPARE(p.progreso->parentWidget(), p.ventana.get());
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    // No frame from the window manager, whose buttons it would get: its own title instead.
    QVERIFY(flags & Qt::FramelessWindowHint);
    QCOMPARE(p.progreso->lbTitle->text(), p.progreso->windowTitle());
    QCOMPARE(p.progreso->lbTitle->geometry().top(), 1);
    for (const Qt::WindowType hint :
         {Qt::WindowStaysOnTopHint, Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint,
          Qt::WindowCloseButtonHint, Qt::WindowSystemMenuHint})
        QVERIFY2(!(flags & hint), qPrintable(QString::number(int(hint), 16)));
    // A window manager that minimises it anyway (taking the main window along) gets both back.
    p.ventana->show();
    p.progreso->show();
    QVERIFY(QTest::qWaitForWindowExposed(p.progreso.get()));
    p.progreso->showMinimized();
    p.ventana->showMinimized();
    QTRY_VERIFY(!p.progreso->isMinimized() && !p.ventana->isMinimized());
    QVERIFY(p.progreso->isVisible());
    p.progreso->hide();
}

void MainWindowTest::messageBoxesCarryTheirIconAndWholeCaption()
{
    using B = Host::Buttons;
    using I = Host::Icon;
    using K = Host::Kind;
    // The icon comes from the message's kind, whatever its caption says.
    const struct {
        const char* caption;
        K kind;
        B buttons;
        I icon;
        QMessageBox::Icon shown;
    } cases[] = {
        {"ERROR", K::Error, B::Ok, I::None, QMessageBox::Critical},
        {"VERIFICATION ERROR", K::Difference, B::Ok, I::None, QMessageBox::Warning},
        {"WARNING:", K::Warning, B::Ok, I::None, QMessageBox::Warning},
        {"WARNING", K::Question, B::OkCancelDefaultCancel, I::Exclamation, QMessageBox::Warning},
        {"NO BLANK", K::Difference, B::Ok, I::None, QMessageBox::Warning},
        {"End verification", K::Difference, B::Ok, I::None, QMessageBox::Warning},
        {"Program Lock Bits", K::Question, B::OkCancel, I::None, QMessageBox::Question},
        {"OK", K::Success, B::Ok, I::None, QMessageBox::Information},
        {"VERIFICATION COMPLETE", K::Verdict, B::Ok, I::None, QMessageBox::Information},
        {"BLANK-TEST", K::Verdict, B::Ok, I::None, QMessageBox::Information},
    };
    for (const auto& c : cases) {
        const auto box = QtHost::makeMessageBox("x", c.caption, c.kind, c.buttons, c.icon, nullptr);
        QCOMPARE(box->icon(), c.shown);
        QFont bold = box->font();
        bold.setBold(true);
        QVERIFY2(box->sizeHint().width() >
                     QFontMetrics(bold).horizontalAdvance(QString::fromLatin1(c.caption)) + 100,
                 c.caption);
    }
    // A text of long lines is not wrapped a word short of each line, where the screen has room.
    const std::string line =
        "Due to power availabity on the standart PC port, the clock settings could";
    const auto box =
        QtHost::makeMessageBox("Are you sure?\r" + line + "\r" + line, "x",
                               vardel::Host::Kind::Question, B::OkCancel, I::Exclamation, nullptr);
    box->show();
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    QVERIFY(label);
    const int needed = QFontMetrics(label->font()).horizontalAdvance(QString::fromStdString(line));
    if (QGuiApplication::primaryScreen()->availableGeometry().width() - 580 > needed)
        QVERIFY2(label->width() >= needed, qPrintable(QString::number(label->width())));
    box->hide();
}

void MainWindowTest::theKeyboardReachesTheCommands()
{
    Program p;
    insertChip(p, "24C04");
    TVentana& w = *p.ventana;
    w.cbChip->setCurrentIndex(k24C04);
    // Keys go to the active window; on X the window must be mapped before it can take focus.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    // On the EEPROM page F5 reads the chip and Ctrl+S asks for a file to save.
    w.PageControl1->setCurrentIndex(1);
    w.SG->setFocus();
    QTest::keyClick(&w, Qt::Key_F5);
    QCOMPARE(w.eeprom().EepromImage[0], std::uint8_t(0x41));
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(p.dialogs, QStringList{QStringLiteral("Save file")});
    // Tab leaves the grid at once rather than walking its cells.
    w.SG->setFocus();
    QTest::keyClick(w.SG, Qt::Key_Tab);
    QVERIFY(!w.SG->hasFocus());
    // On the AVR page the same key reads the flash: its save dialog comes up, nothing is read
    // from the EEPROM (no START on the bus).
    w.PageControl1->setCurrentIndex(0);
    w.btnTipo->setFocus();
    const int starts = p.port.starts;
    QTest::keyClick(&w, Qt::Key_F5);
    QCOMPARE(p.dialogs, (QStringList{"Save file", "Save file"}));
    QCOMPARE(p.port.starts, starts);
    QVERIFY(w.btnLeerFlash->toolTip().endsWith(QStringLiteral("(F5)")));
    // Tab runs left to right: the type panel, the editors, then PROGRAM, then READ.
    w.avr().model().selectPages("ATmega128", "128", "LB128");
    QCoreApplication::processEvents();
    QList<QWidget*> order;
    QWidget* at = w.btnTipo;
    for (int i = 0; i < 200 && (order.isEmpty() || at != w.btnTipo);
         ++i, at = at->nextInFocusChain())
        if (at->isVisibleTo(w.tsAvr) && (at->focusPolicy() & Qt::TabFocus) &&
            w.tsAvr->isAncestorOf(at))
            order << at;
    const auto place = [&](QWidget* x) {
        return order.indexOf(x);
    };
    QVERIFY(place(w.btnTipo) == 0);
    QVERIFY(place(w.CheckBoxes[LockFuseEditor::BoxesOf(EditorSection::LB128).front()]) > 0);
    QVERIFY(place(w.CheckBoxes[LockFuseEditor::BoxesOf(EditorSection::LB128).front()]) <
            place(w.CheckBoxes[LockFuseEditor::BoxesOf(EditorSection::Fuse128).front()]));
    QVERIFY(place(w.CheckBoxes[LockFuseEditor::BoxesOf(EditorSection::Fuse128).back()]) <
            place(w.btnBorrar));
    QVERIFY(place(w.btnFuseBits) < place(w.btnTestBlank));
    QVERIFY(place(w.btnTestBlank) < place(w.btnReadFuseBits));
}

void MainWindowTest::aDialogShownAgainOpensWhereItWas()
{
    // Under a window manager that frames windows, a dialog shown again used to open lower by the
    // height of its title bar.
    Program p;
    p.ventana->show();
    QVERIFY(QTest::qWaitForWindowExposed(p.ventana.get()));
    for (QDialog* d : std::initializer_list<QDialog*>{p.about.get(), p.config.get()}) {
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
        const QRect first = d->geometry();
        d->hide();
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
        QCOMPARE(d->geometry(), first);
        d->hide();
    }
}

// The grid shows the image: a 93Cxx read in the other organisation is told, the image after an
// erase-all is said not to be the chip, and a tool tip over a cell goes when F8 scrolls away.
void MainWindowTest::theGridSaysWhatItShows()
{
    // An x16 chip read as x8 gives its first word one bit early: its top bit is taken for the
    // dummy 0 bit, so with that bit set the chip seems not to answer.
    const struct {
        const char *chip, *chosen;
        bool warns;
        std::uint8_t first;
    } reads[] = {{"93C46x16", "93C46x8", true, 0x41},
                 {"93C46x16", "93C46x8", true, 0xC1},
                 {"93C46x16", "93C46x16", false, 0x41},
                 {"93C46x8", "93C46x8", false, 0x41}};
    for (const auto& r : reads) {
        Program p;
        TVentana& w = *p.ventana;
        auto chip = sim::MakeAvrSocketEeprom(r.chip);
        for (std::size_t i = 0; i < chip->memory().size(); ++i)
            chip->memory()[i] = i ? std::uint8_t(0x41 + i % 26) : r.first;
        const std::vector<std::uint8_t> held = chip->memory();
        auto* raw = chip.get();
        p.board.insertAvr(std::move(chip));
        w.PageControl1->setCurrentIndex(1);
        w.cbChip->setCurrentIndex(FindEepromType(r.chosen));
        w.ToolButton3->trigger();
        const QString status = w.lbStatus->text();
        QCOMPARE(p.messages.size(), r.warns ? 1 : 0);
        QCOMPARE(p.messages.join(QString()).contains(QStringLiteral("Choose 93C46x16 and read")),
                 r.warns);
        if (r.first & 0x80)
            continue;
        QCOMPARE(status.contains(QStringLiteral("Choose 93C46x16 and read again")), r.warns);
        QVERIFY2(status.contains(QByteArray(r.chosen).endsWith("x8")
                                     ? QStringLiteral("(x8, ORG low)")
                                     : QStringLiteral("(x16, ORG high)")),
                 qPrintable(status));
        QCOMPARE(std::equal(held.begin(), held.end(), w.eeprom().EepromImage.begin()), !r.warns);
        if (r.warns)
            continue;
        // ERAL: the chip holds FF, the grid still the image, and says so until the chip is read.
        w.btnEraseAll->trigger();
        QVERIFY(std::ranges::all_of(raw->memory(), [](std::uint8_t b) { return b == 0xFF; }));
        QCOMPARE(w.SG->model()->index(0, 1).data().toString(), QStringLiteral("41"));
        QVERIFY(!w.lbGridShows->isHidden());
        w.ToolButton3->trigger();
        QVERIFY(w.lbGridShows->isHidden());
        QCOMPARE(w.SG->model()->index(0, 1).data().toString(), QStringLiteral("FF"));
    }

    Program p;
    TVentana& w = *p.ventana;
    sim::Eeprom24Cxx* chip = insertChip(p, "24C256");
    w.show();
    w.PageControl1->setCurrentIndex(1);
    w.cbChip->setCurrentIndex(FindEepromType("24C256"));
    w.ToolButton3->trigger();
    chip->memory()[0x7000] ^= 0x01;
    w.ToolButton5->trigger();
    QToolTip::showText(w.SG->viewport()->mapToGlobal(QPoint(40, 10)), QStringLiteral("0x0000"),
                       w.SG->viewport());
    QVERIFY(QToolTip::isVisible());
    w.nextDifferenceClick();
    QVERIFY(!QToolTip::isVisible());
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"

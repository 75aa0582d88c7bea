#include "program_fixture.h"

#include "production/auto_run.h"
#include "sim/avr_target.h"
#include "sim/chips.h"
#include "sim/eeprom_24cxx.h"
#include "sim/spi_flash_chip.h"
#include "spi/flash_voltage.h"
#include "ui/Unit1Auto.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

class AutoWindowTest : public QObject {
    Q_OBJECT
private slots:
    void autoButtonAsksForAProjectAndProgramsTheNextNumber();
    void projectsOpenAndSaveThroughTheProgramMenu();
    void autoOnTheEepromPageProgramsThe24Cxx();
    void autoProgramsAnSpiFlashAfterTheVoltageWarning();
};

namespace {

void writeText(const QString& name, const QByteArray& text)
{
    QFile f(name);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

AutoPanel& panel(Program& p)
{
    return *p.ventana->findChild<AutoPanel*>();
}

const QByteArray kBlinker = "socket = avr\npart = ATmega328P\n"
                            "flash = " SAMPLES_DIR "/blink-atmega328p-all.hex\n"
                            "serial.memory = eeprom\nserial.address = 0x20\nserial.length = 3\n"
                            "serial.format = ascii\nserial.next = 7\n";

} // namespace

void AutoWindowTest::autoButtonAsksForAProjectAndProgramsTheNextNumber()
{
    Program p;
    TVentana& w = *p.ventana;
    AutoPanel& a = panel(p);
    QCOMPARE(a.lbProject->text(), QStringLiteral("No project"));
    QVERIFY(!a.SaveProject1->isEnabled());
    std::string error;
    auto made = sim::MakeAvrChip("ATmega328P", "", error);
    auto* chip = static_cast<sim::AvrTarget*>(made.get());
    p.board.insertAvr(std::move(made));
    const QString project = p.dir.path() + "/blinker.vardel";
    writeText(project, kBlinker);

    // Without a project the button asks for one; cancelled, nothing happens.
    a.btnAuto->click();
    QCOMPARE(p.dialogs, QStringList{"Open project"});
    QCOMPARE(chip->flash()[0], std::uint8_t(0xFF));

    p.nextFile = project;
    a.btnAuto->click();
    // Only the outcome is a box; the steps' own "OK" boxes went to the status line.
    // The image's fuses and lock byte come with its flash: one question lists both.
    QCOMPARE(p.messages.size(), 2);
    QVERIFY(p.messages[0].startsWith("Program Fuse Bits|Are you sure?"));
    QVERIFY(p.messages[0].contains("BODLEVEL1 1 -> 0") && p.messages[0].contains("LB1 1 -> 0"));
    QCOMPARE(p.messages[1], "OK|ATmega328P programmed and verified, serial number 7.");
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(chip->eeprom().data()) + 0x20, 3),
             QByteArray("007"));
    QCOMPARE(chip->flash()[0], std::uint8_t(0x0C));
    QCOMPARE(a.lbProject->text(),
             QStringLiteral("Project: blinker.vardel (ATmega328P), next serial number: 8; batch: 1 "
                            "good, 0 failed, 0 refused"));
    QVERIFY(readFile(project).contains("serial.next = 8\n"));
    // The page shows the chip as it now is: its type, and the fuse bits the run wrote.
    QVERIFY(w.lbTipo->text().startsWith("ATmega328P"));
    QCOMPARE(w.editor().bits().value(1), chip->fuse(1));
    QCOMPARE(chip->fuse(1), std::uint8_t(0xD9));
    QCOMPARE(p.board.data(), std::uint8_t(0x00));
    QVERIFY(w.tsAvr->isEnabled() && a.btnAuto->isEnabled());

    // Another chip in the socket: refused at identification, the number stays.
    p.messages.clear();
    p.board.insertAvr(sim::MakeAvrChip("ATmega168", "", error));
    a.Auto1->trigger();
    QCOMPARE(p.messages.size(), 2);
    QVERIFY(p.messages[0].contains("is the ATmega168, not the project's ATmega328P"));
    QCOMPARE(p.messages[1], QStringLiteral("ERROR|Auto run failed at the step \"identify\": "
                                           "nothing was written."));
    QVERIFY(
        a.lbProject->text().endsWith("next serial number: 8; batch: 1 good, 1 failed, 0 refused"));
}

void AutoWindowTest::projectsOpenAndSaveThroughTheProgramMenu()
{
    Program p;
    AutoPanel& a = panel(p);
    const QString project = p.dir.path() + "/blinker.vardel";
    writeText(project, "# kept\n" + kBlinker);

    // A bad value is named with its line; the project in hand stays.
    writeText(p.dir.path() + "/bad.vardel", "socket = avr\npart = ATmega328P\nlock = LB1\n");
    p.nextFile = p.dir.path() + "/bad.vardel";
    a.OpenProject1->trigger();
    QCOMPARE(p.messages.size(), 1);
    QVERIFY(p.messages[0].startsWith("ERROR|"));
    QVERIFY(p.messages[0].endsWith("bad.vardel: line 3: lock takes NAME=0 or NAME=1 words, as "
                                   "LB1=0 LB2=0"));
    QVERIFY(!a.project());

    p.nextFile = project;
    a.OpenProject1->trigger();
    QVERIFY(a.project());
    QCOMPARE(a.lbProject->text(),
             QStringLiteral("Project: blinker.vardel (ATmega328P), next serial number: 7"));

    // Saved in the same folder: the text as written. Elsewhere: the files named from there.
    p.nextFile = p.dir.path() + "/same.vardel";
    a.SaveProject1->trigger();
    QCOMPARE(readFile(p.nextFile), "# kept\n" + kBlinker);
    QVERIFY(QDir(p.dir.path()).mkdir("elsewhere"));
    p.nextFile = p.dir.path() + "/elsewhere/moved.vardel";
    a.SaveProject1->trigger();
    QCOMPARE(a.lbProject->text(),
             QStringLiteral("Project: moved.vardel (ATmega328P), next serial number: 7"));
    const vardel::AutoJobLoad moved = vardel::LoadAutoJob(p.nextFile.toStdString());
    QVERIFY2(moved.ok(), moved.error.c_str());
    QVERIFY(moved.job.flash.has_value());
    QVERIFY(!QString::fromStdString(moved.job.project.flash).startsWith('/'));
    QCOMPARE(p.dialogs,
             (QStringList{"Open project", "Open project", "Save project as", "Save project as"}));
}

void AutoWindowTest::autoOnTheEepromPageProgramsThe24Cxx()
{
    Program p;
    TVentana& w = *p.ventana;
    std::string error;
    auto made = sim::MakeEepromChip("24C02", error);
    auto* chip = static_cast<sim::Eeprom24Cxx*>(made.get());
    p.board.insertEeprom(std::move(made));
    QByteArray image(256, '\0');
    for (int i = 0; i < 256; ++i)
        image[i] = char(i < 0xF0 ? i : 0xFF);
    writeText(p.dir.path() + "/image.bin", image);
    writeText(p.dir.path() + "/label.vardel",
              "socket = eeprom\npart = 24c02\neeprom = image.bin\nserial.memory = eeprom\n"
              "serial.address = 0xF0\nserial.length = 2\nserial.format = little-endian\n"
              "serial.next = 0x1234\nserial.step = 2\nlog = label.csv\n");
    p.nextFile = p.dir.path() + "/label.vardel";
    panel(p).OpenProject1->trigger();
    // On the AVR page a 24Cxx project is refused: the page would not show the chip it programs.
    w.PageControl1->setCurrentWidget(w.tsAvr);
    panel(p).ToolButtonAuto->trigger();
    QCOMPARE(p.messages, QStringList{"ERROR|The open project is for the 24CXXX socket: switch to "
                                     "its page to run it.\rNothing was written."});
    QCOMPARE(chip->memory()[0], std::uint8_t(0xFF));
    p.messages.clear();
    w.PageControl1->setCurrentWidget(w.tsEeprom);
    panel(p).ToolButtonAuto->trigger();
    QCOMPARE(p.messages, QStringList{"OK|24C02 programmed and verified, serial number 4660."});
    QCOMPARE(w.PageControl1->currentWidget(), w.tsEeprom);
    image[0xF0] = char(0x34);
    image[0xF1] = char(0x12);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(chip->memory().data()), 256), image);
    // The page shows the chip: its type, and what it holds in the grid.
    QVERIFY(w.cbChip->currentText().startsWith("24C02"));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(w.eeprom().EepromImage.data()), 256), image);
    QCOMPARE(panel(p).lbProject->text().section(", ", 1),
             "next serial number: 4662; batch: 1 good, 0 failed, 0 refused");
    QVERIFY(readFile(p.dir.path() + "/label.csv").contains(",24C02,,4660,,"));

    // An image rebuilt since the batch began: asked about, and with OK a new batch begins.
    image[0] = char(0x5A);
    writeText(p.dir.path() + "/image.bin", image.left(0xF0));
    p.messages.clear();
    panel(p).ToolButtonAuto->trigger();
    QCOMPARE(p.messages.size(), 2);
    QVERIFY(p.messages[0].startsWith("WARNING:|") &&
            p.messages[0].contains("image.bin has changed since the batch began"));
    QCOMPARE(chip->memory()[0], std::uint8_t(0x5A));
    QVERIFY(panel(p).lbProject->text().endsWith("batch: 1 good, 0 failed, 0 refused"));
}

void AutoWindowTest::autoProgramsAnSpiFlashAfterTheVoltageWarning()
{
    Program p;
    TVentana& w = *p.ventana;
    auto made = sim::MakeSpiFlashChip("GD25Q16");
    sim::SpiFlashChip& chip = *made;
    p.board.insertAvr(std::move(made));
    writeText(p.dir.path() + "/fw.bin", QByteArray("firmware"));
    writeText(p.dir.path() + "/fw.vardel",
              "socket = spi-flash\npart = GD25Q16\nflash = fw.bin\nlog = fw.csv\n");
    p.nextFile = p.dir.path() + "/fw.vardel";
    panel(p).OpenProject1->trigger();
    w.PageControl1->setCurrentWidget(w.tsEeprom);
    panel(p).ToolButtonAuto->trigger();
    QCOMPARE(p.messages, (QStringList{QStringLiteral("WARNING:|") + kFlashVoltageWarning,
                                      "OK|GD25Q16 programmed and verified."}));
    QCOMPARE(std::string(chip.memory().begin(), chip.memory().begin() + 9),
             std::string("firmware\xFF"));
    QVERIFY(readFile(p.dir.path() + "/fw.csv").contains(",GD25Q16,,,0x"));
    QCOMPARE(p.board.data(), std::uint8_t(0x00));
}

QTEST_MAIN(AutoWindowTest)
#include "auto_window_test.moc"

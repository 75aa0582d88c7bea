// The EEPROM page on an SPI NOR flash in the simulated board's AVR socket.
#include "i2c/eeprom_page.h"
#include "program_fixture.h"
#include "sim/spi_flash_chip.h"
#include "spi/flash_voltage.h"
#include "ui/EepromGridModel.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>

#include <random>

class FlashWindowTest : public QObject {
    Q_OBJECT
private slots:
    void readProgramVerifyAndEraseGoThroughTheFlash();
    void aProtectedFlashIsAskedAboutWithCancelTheDefault();
    void theListOffersThePartsAndRefusesAnotherThanTheOneChosen();
    void cancelAndCloseEndAReadWithTheLinesLow();
    void theVoltageWarningComesOnceBeforeTheFirstFlashCommand();
};

namespace {
// The chip in the AVR socket, and the voltage warning taken as given before.
sim::SpiFlashChip* insertFlash(Program& p, const char* part, unsigned seed = 5)
{
    p.settings->WriteString(kFlashVoltageKey, "1");
    auto chip = sim::MakeSpiFlashChip(part);
    auto* raw = chip.get();
    std::mt19937 rng(seed);
    for (std::uint8_t& b : raw->memory())
        b = static_cast<std::uint8_t>(rng());
    p.board.insertAvr(std::move(chip));
    return raw;
}

void choose(TVentana& w, int index)
{
    w.PageControl1->setCurrentIndex(1);
    w.cbChip->setCurrentIndex(index);
}

QString cell(TVentana& w, int row, int column)
{
    return w.SG->model()->index(row, column).data().toString();
}
} // namespace

void FlashWindowTest::readProgramVerifyAndEraseGoThroughTheFlash()
{
    // The auto-detect entry takes the chip's size from the chip; the part's entry has it.
    for (const char* entry : {"auto", "GD25Q16"}) {
        Program p;
        sim::SpiFlashChip* chip = insertFlash(p, "GD25Q16");
        TVentana& w = *p.ventana;
        choose(w, FindFlashEntry(entry));
        // Before the read, the auto-detect entry has no size for a file.
        p.nextFile = p.dir.path() + "/x.bin";
        w.ToolButton2->trigger();
        QCOMPARE(p.messages.size(), entry == std::string("auto") ? 1 : 0);
        p.messages.clear();
        w.ToolButton3->trigger();
        QCOMPARE(p.messages, QStringList());
        QCOMPARE(w.eeprom().ChipSize, 2 * 1024 * 1024);
        QCOMPARE(cell(w, 0x1234, 3), QString::asprintf("%02X", chip->memory()[0x1234 * 8 + 2]));
        QVERIFY2(QRegularExpression(QStringLiteral("^2 MiB of 2 MiB read, [0-9.]+ KiB/s$"))
                     .match(p.progreso->lbProg->text())
                     .hasMatch(),
                 qPrintable(p.progreso->lbProg->text()));
        QVERIFY(w.lbStatus->text().startsWith(QStringLiteral("Read 2097152 bytes from GD25Q16")));
        QCOMPARE(p.board.data(), std::uint8_t(0x00));

        // A change within one sector: programmed, then verified against the image.
        for (int i = 0; i < 300; ++i)
            w.eeprom().EepromImage[0x41000 + i] = std::uint8_t(i);
        const std::vector<std::uint8_t> image(w.eeprom().EepromImage.begin(),
                                              w.eeprom().EepromImage.begin() + 2 * 1024 * 1024);
        w.ToolButton4->trigger();
        QCOMPARE(p.messages, QStringList());
        QVERIFY(chip->memory() == image);
        QVERIFY2(w.lbStatus->text().contains(QStringLiteral("1 sectors and 0 blocks erased")),
                 qPrintable(w.lbStatus->text()));
        w.ToolButton5->trigger();
        QCOMPARE(p.messages,
                 QStringList{QStringLiteral(
                     "VERIFICATION COMPLETE|Weryfikacja chipu przebiegła prawidłowo!!!")});
        // A byte the chip lacks: the verify marks it in the grid.
        p.messages.clear();
        w.eeprom().EepromImage[0x100] ^= 0xFF;
        w.ToolButton5->trigger();
        QCOMPARE(w.gridModel().differences(), std::vector<int>{0x100});
        QCOMPARE(p.messages.size(), 1);
        QVERIFY(p.messages[0].startsWith(QStringLiteral("ERROR|Verify failed")));

        // Erase asks first, Cancel the default: Cancel leaves the chip, OK erases it.
        for (const Host::Result answer : {Host::Result::Cancel, Host::Result::Ok}) {
            Host::Buttons buttons = Host::Buttons::Ok;
            w.host().answerMessage = [&](const std::string&, const std::string&, Host::Buttons b,
                                         Host::Icon) {
                buttons = b;
                return answer;
            };
            w.btnEraseAll->trigger();
            QCOMPARE(buttons, Host::Buttons::OkCancelDefaultCancel);
            QCOMPARE(chip->memory() == std::vector<std::uint8_t>(chip->memory().size(), 0xFF),
                     answer == Host::Result::Ok);
            QCOMPARE(p.board.data(), std::uint8_t(0x00));
        }
    }
}

void FlashWindowTest::aProtectedFlashIsAskedAboutWithCancelTheDefault()
{
    Program p;
    sim::SpiFlashChip* chip = insertFlash(p, "GD25Q16");
    std::string error;
    // BP2..BP0 = 111: the whole chip.
    QVERIFY(chip->set("flash.status", "1C", error));
    TVentana& w = *p.ventana;
    choose(w, FindFlashEntry("GD25Q16"));
    std::copy(chip->memory().begin(), chip->memory().end(), w.eeprom().EepromImage.begin());
    w.eeprom().EepromImage[0x7000] = 0x00;
    w.eeprom().EepromImage[0x7001] = 0xA5;
    for (const Host::Result answer : {Host::Result::Cancel, Host::Result::Ok}) {
        bool asked = false;
        w.host().answerMessage = [&](const std::string& text, const std::string& caption,
                                     Host::Buttons buttons, Host::Icon) {
            if (caption == "WARNING:" && buttons == Host::Buttons::OkCancelDefaultCancel)
                asked = text.find("from 0x0000 to 0x1FFFFF") != std::string::npos &&
                        p.board.data() == 0x00;
            return answer;
        };
        w.ToolButton4->trigger();
        QVERIFY(asked);
        const bool ok = answer == Host::Result::Ok;
        QCOMPARE(chip->memory()[0x7001] == 0xA5, ok);
        QCOMPARE(int(chip->status() & 0x1C), ok ? 0 : 0x1C);
        QCOMPARE(w.lbStatus->text().startsWith(QStringLiteral("Programming refused")), !ok);
        QCOMPARE(p.board.data(), std::uint8_t(0x00));
    }
}

void FlashWindowTest::theListOffersThePartsAndRefusesAnotherThanTheOneChosen()
{
    Program p;
    sim::SpiFlashChip* chip = insertFlash(p, "GD25Q16");
    const std::vector<std::uint8_t> before = chip->memory();
    TVentana& w = *p.ventana;
    QCOMPARE(w.cbChip->itemText(kFlashAutoDetect), QStringLiteral("SPI flash (auto-detect)"));
    QCOMPARE(w.cbChip->count(), kFlashAutoDetect + 1 + int(SpiFlashParts().size()));
    // An 8 MiB part's grid: a million rows, addressed with six digits, made only when shown.
    choose(w, FindFlashEntry("W25Q64"));
    QCOMPARE(w.SG->model()->rowCount(), 8 * 1024 * 1024 / 8);
    QCOMPARE(cell(w, 8 * 1024 * 1024 / 8 - 1, 0), QStringLiteral("7FFFF8"));
    QCOMPARE(w.btnEraseAll->text(), QStringLiteral("Erase chip"));
    w.ToolButton4->trigger();
    QCOMPARE(p.messages.size(), 1);
    QVERIFY2(p.messages[0].startsWith(QStringLiteral("ERROR|The chip is a GD25Q16 (JEDEC ID C8 40 "
                                                     "15), not the W25Q64 chosen")),
             qPrintable(p.messages[0]));
    QVERIFY(chip->memory() == before);
    QCOMPARE(p.board.data(), std::uint8_t(0x00));
}

void FlashWindowTest::cancelAndCloseEndAReadWithTheLinesLow()
{
    // Escape in the progress window, then closing the window (answered OK), each at 30 %.
    for (const bool closing : {false, true}) {
        Program p;
        insertFlash(p, "GD25Q16");
        TVentana& w = *p.ventana;
        w.show();
        choose(w, FindFlashEntry("GD25Q16"));
        bool done = false;
        QObject::connect(p.progreso->Progreso, &QProgressBar::valueChanged, p.progreso.get(),
                         [&](int v) {
                             if (v < 30 || done)
                                 return;
                             done = true;
                             if (closing)
                                 w.close();
                             else
                                 QTest::keyClick(p.progreso.get(), Qt::Key_Escape);
                         });
        w.ToolButton3->trigger();
        QVERIFY(done);
        QCOMPARE(w.eeprom().EepromImage[0], std::uint8_t(0xFF));
        QVERIFY2(w.lbStatus->text().startsWith(QStringLiteral("Read cancelled")),
                 qPrintable(w.lbStatus->text()));
        for (int i = 0; i < 10 && w.isVisible(); ++i)
            QCoreApplication::processEvents();
        QCOMPARE(w.isVisible(), !closing);
        QVERIFY(!p.progreso->isVisible());
        QCOMPARE(p.board.data(), std::uint8_t(0x00));
    }
}

void FlashWindowTest::theVoltageWarningComesOnceBeforeTheFirstFlashCommand()
{
    Program p;
    insertFlash(p, "GD25Q16");
    p.settings->WriteString(kFlashVoltageKey, "");
    TVentana& w = *p.ventana;
    // An EEPROM type's command says nothing of it.
    choose(w, FindEepromType("25040"));
    w.ToolButton3->trigger();
    QVERIFY(!p.messages.join(QString()).contains(QStringLiteral("3.3 V")));
    p.messages.clear();
    choose(w, FindFlashEntry("GD25Q16"));
    bool beforeAnyAccess = false;
    w.host().answerMessage = [&](const std::string& text, const std::string& caption, Host::Buttons,
                                 Host::Icon) {
        p.messages << QString::fromStdString(caption + "|" + text);
        if (text == kFlashVoltageWarning)
            beforeAnyAccess = p.board.data() == 0x00 && w.eeprom().EepromImage[0] == 0xFF;
        return Host::Result::Ok;
    };
    for (int run = 0; run < 2; ++run)
        w.ToolButton3->trigger();
    QCOMPARE(p.messages, QStringList{QStringLiteral("WARNING:|") + kFlashVoltageWarning});
    QVERIFY(beforeAnyAccess);
    p.stop();
    QCOMPARE(p.reopenStore()->ReadString(kFlashVoltageKey, ""), std::string("1"));
}

QTEST_MAIN(FlashWindowTest)
#include "flash_window_test.moc"

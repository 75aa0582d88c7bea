#include "program_fixture.h"

#include "avr/avr_page.h"
#include "avr/lock_fuse_editor.h"
#include "avr/part_bits.h"
#include "sim/avr_target.h"
#include "sim/chips.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {

sim::AvrTarget* insertAvr(Program& p, const char* device)
{
    std::string error;
    auto chip = sim::MakeAvrChip(device, "", error);
    auto* raw = static_cast<sim::AvrTarget*>(chip.get());
    p.board.insertAvr(std::move(chip));
    return raw;
}

QString page(QStackedWidget* notebook)
{
    return TVentana::notebookPageCaption(notebook);
}

} // namespace

class AvrPageTest : public QObject {
    Q_OBJECT
private slots:
    void startUpState();
    void identificationSwitchesPagesGroupAndButton();
    void escapeRunsTheBlankTest();
    void flashProgramAndVerifyThroughTheDialogs();
    void manualLineTest();
    void fuseReadAndPresetChangeBoxesAndLabels();
    void lockBitRuleThroughClicks();
    void lockAndFuseWritesRefuseAChipOtherThanTheOneShown();
    void guardedFuseBitsNeedTheirButtonAndThenLockTheChipOut();
    void fusesALockedChipIgnoresAreReportedNotSet();
    void partEditorPageFromTheData();
    void partPageWritesLockBitsTheChipCannotRead();
    void aSignatureOfSeveralPartsIsAChoice();
    void identifyReadsTheBitsIntoTheEditors();
    void closingDuringAProgramStopsItWithTheLinesLow();
    void editorsShowTheChipOrNothing();
    void aCancelledWriteShowsTheBitsItReadInTheChip();
    void theStatusBarSaysTheOutcomeWhenItsBoxAppears();
};

namespace {
// Every box with a state label shows "0" while it is checked and "1" while it is not.
void checkLabelsFollowBoxes(TVentana& w)
{
    for (int n = 1; n <= 65; ++n)
        if (w.CheckBoxes[n] && w.StateLabels[n])
            QCOMPARE(w.StateLabels[n]->text(),
                     w.CheckBoxes[n]->isChecked() ? QStringLiteral("0") : QStringLiteral("1"));
}
} // namespace

void AvrPageTest::fuseReadAndPresetChangeBoxesAndLabels()
{
    Program p;
    TVentana& w = *p.ventana;
    auto* chip = insertAvr(p, "ATmega128");
    std::string error;
    QVERIFY(chip->set("avr.fuse.high", "19", error)); // OCDEN and JTAGEN programmed, as is SPIEN
    QVERIFY(chip->set("avr.fuse.low", "E1", error));
    w.btnTipo->click();
    QCOMPARE(TVentana::notebookPageCaption(w.Notebook2), QStringLiteral("128"));
    QVERIFY(w.GroupBox3->isHidden()); // the presets group stays hidden
    w.btnReadFuseBits->click();
    QCOMPARE(p.messages, QStringList());
    QVERIFY(w.CheckBoxes[19]->isChecked()); // OCDEN, high bit 7
    QCOMPARE(w.StateLabels[19]->text(), QStringLiteral("0"));
    QVERIFY(w.CheckBoxes[20]->isChecked());  // JTAGEN
    QVERIFY(!w.CheckBoxes[22]->isChecked()); // CKOPT
    QVERIFY(!w.CheckBoxes[27]->isChecked()); // BODLEVEL, low bit 7 (E1: 1110 0001)
    QVERIFY(!w.CheckBoxes[29]->isChecked()); // SUT1
    QVERIFY(w.CheckBoxes[30]->isChecked());  // SUT0
    QVERIFY(w.CheckBoxes[31]->isChecked());  // CKSEL3
    QVERIFY(!w.CheckBoxes[34]->isChecked()); // CKSEL0
    checkLabelsFollowBoxes(w);
    QCOMPARE(p.board.data(), std::uint8_t(0x00));

    // A preset sets the boxes as clicks would: every label follows.
    QStringList before;
    for (int n = 17; n <= 34; ++n)
        before << QString::number(w.CheckBoxes[n]->isChecked());
    w.SpeedButton3->click();
    QStringList after;
    for (int n = 17; n <= 34; ++n)
        after << QString::number(w.CheckBoxes[n]->isChecked());
    QVERIFY(before != after);
    checkLabelsFollowBoxes(w);
}

void AvrPageTest::lockBitRuleThroughClicks()
{
    Program p;
    TVentana& w = *p.ventana;
    auto* chip = insertAvr(p, "AT90S8535");
    w.btnTipo->click();
    QCOMPARE(TVentana::notebookPageCaption(w.Notebook1), QStringLiteral("AT90Sxxxx"));
    QCheckBox* lb1 = w.CheckBoxes[1];
    QCheckBox* lb2 = w.CheckBoxes[2];
    const QString memo = w.Memo1->toPlainText();
    QCOMPARE(memo, QStringLiteral("No memory lock features \nenabled."));
    QVERIFY(w.lbEditorNote->isHidden());
    lb2->click(); // refused, saying why: LB2 only with LB1
    QVERIFY(!lb2->isChecked());
    QCOMPARE(w.StateLabels[2]->text(), QStringLiteral("1"));
    QCOMPARE(w.Memo1->toPlainText(), memo);
    QVERIFY2(w.lbStatus->text().startsWith(QStringLiteral("LB2 was not ticked: it can only be "
                                                          "programmed together with LB1")),
             qPrintable(w.lbStatus->text()));
    // A chip holding LB2 alone shows no lock, and the page says why.
    std::string error;
    QVERIFY(chip->set("avr.lock", "FB", error));
    w.btnReadLockBits->click();
    QVERIFY(!lb1->isChecked() && !lb2->isChecked());
    QCOMPARE(w.Memo1->toPlainText(), memo);
    QVERIFY(!w.lbEditorNote->isHidden());
    QCOMPARE(w.lbEditorNote->text(), QString::fromLatin1(TVentana::kLb2AloneNote));
    QVERIFY(w.lbStatus->text().endsWith(QStringLiteral(": LB2 without LB1, no lock")));
    QVERIFY(chip->set("avr.lock", "FF", error));
    w.btnReadLockBits->click();
    QVERIFY(w.lbEditorNote->isHidden());
    lb1->click();
    lb2->click();
    QVERIFY(lb1->isChecked() && lb2->isChecked());
    QCOMPARE(
        w.Memo1->toPlainText(),
        QStringLiteral("Further programming and veryfing of the Flash and EEPROM is disabled"));
    lb1->click(); // refused while LB2 is checked
    QVERIFY(lb1->isChecked());
    QCOMPARE(w.StateLabels[1]->text(), QStringLiteral("0"));
    lb2->click();
    QCOMPARE(w.Memo1->toPlainText(),
             QStringLiteral("Further programming of the Flash and EEPROM is disabled."));
    lb1->click();
    QCOMPARE(w.Memo1->toPlainText(), QStringLiteral("No memory lock features enabled."));
}

void AvrPageTest::lockAndFuseWritesRefuseAChipOtherThanTheOneShown()
{
    // Before any identification, and after an ATmega128 was identified and an ATtiny12 put in
    // its place: the ATmega128 sequences would unprogram the ATtiny12's SPIEN.
    for (const bool identifyFirst : {false, true}) {
        Program p;
        TVentana& w = *p.ventana;
        if (identifyFirst) {
            insertAvr(p, "ATmega128");
            w.btnTipo->click();
            QCOMPARE(w.lbTipo->text(), QStringLiteral("ATmega128 (128kb flash)"));
        }
        sim::AvrTarget* tiny = insertAvr(p, "ATtiny12");
        std::string error;
        QVERIFY(tiny->set("avr.lock", "FF", error));
        w.CheckBoxes[3]->click(); // LB1 of page "LB128"
        p.messages.clear();
        w.btnFuseBits->click();
        w.btnLockBits->click();
        // Before any identification the buttons wait for the editors to hold a chip's bits.
        QCOMPARE(w.btnFuseBits->isEnabled(), identifyFirst);
        QCOMPARE(p.messages.size(), identifyFirst ? 2 : 0);
        for (const QString& m : p.messages) {
            QVERIFY2(m.startsWith(QStringLiteral("ERROR|")), qPrintable(m));
            QVERIFY2(m.contains(QStringLiteral("\"Identify microprocessor\"")), qPrintable(m));
            QVERIFY2(m.contains(QStringLiteral("Nothing was written.")), qPrintable(m));
        }
        if (identifyFirst)
            QVERIFY(p.messages[0].contains(QStringLiteral("ATtiny12 (1kb flash)) is not the "
                                                          "ATmega128 (128kb flash)")));
        QCOMPARE(tiny->fuse(0), std::uint8_t(0xD2));
        QCOMPARE(tiny->lock(), std::uint8_t(0xFF));
        QCOMPARE(p.board.data(), std::uint8_t(0x00));
        // Identified, the same chip takes both.
        w.btnTipo->click();
        p.messages.clear();
        w.CheckBoxes[1]->click(); // LB1 of the AT90S group, which the ATtiny12 shows
        w.btnLockBits->click();
        QCOMPARE(p.messages.last(), QStringLiteral("OK|Lock Bits set !!"));
        QCOMPARE(tiny->lock(), std::uint8_t(0xFD));
    }
}

void AvrPageTest::guardedFuseBitsNeedTheirButtonAndThenLockTheChipOut()
{
    struct Case {
        int box;
        const char* button;
        const char* change;
        std::uint8_t fuse;
    };
    const Case cases[] = {{60, "SpeedButton4", "SPIEN 0 -> 1", 0xF2},
                          {61, "SpeedButton5", "RSTDISBL 1 -> 0", 0xC2}};
    for (const Case& c : cases) {
        Program p;
        TVentana& w = *p.ventana;
        QStringList asked;
        w.host().answerMessage = [&](const std::string& text, const std::string& caption,
                                     Host::Buttons buttons, Host::Icon icon) {
            p.messages << QString::fromStdString(caption + "|" + text);
            if (buttons != Host::Buttons::Ok) {
                asked << QString::fromStdString(caption);
                // Every question that can lock the chip out defaults to Cancel, with the icon.
                if (buttons != Host::Buttons::OkCancelDefaultCancel ||
                    icon != Host::Icon::Exclamation)
                    asked << QStringLiteral("(Enter would answer OK)");
            }
            return Host::Result::Ok;
        };
        sim::AvrTarget* tiny = insertAvr(p, "ATtiny12");
        w.btnTipo->click();
        w.btnReadFuseBits->click();
        QCheckBox* box = w.CheckBoxes[c.box];
        const bool was = box->isChecked();
        QVERIFY(!box->isEnabled());
        box->click();
        QCOMPARE(box->isChecked(), was);
        auto* button = w.findChild<QPushButton*>(QString::fromLatin1(c.button));
        QVERIFY(button);
        button->click();
        QVERIFY(box->isEnabled());
        box->click();
        QCOMPARE(box->isChecked(), !was);
        p.messages.clear();
        w.btnFuseBits->click();
        QCOMPARE(asked,
                 (QStringList{QStringLiteral("WARNING"), QStringLiteral("Program Fuse Bits")}));
        QCOMPARE(p.messages.size(), 2);
        QVERIFY2(p.messages[0].endsWith(QString::fromLatin1(c.change)), qPrintable(p.messages[0]));
        QCOMPARE(p.messages[1], QStringLiteral("OK|Fuse Bits set !!"));
        QCOMPARE(tiny->fuse(0), c.fuse);
        p.messages.clear();
        w.btnTipo->click();
        QVERIFY(p.messages.size() == 1 &&
                p.messages[0].startsWith(QStringLiteral("ERROR|Processor not detected!!!\r")));
    }
}

void AvrPageTest::fusesALockedChipIgnoresAreReportedNotSet()
{
    Program p;
    TVentana& w = *p.ventana;
    sim::AvrTarget* chip = insertAvr(p, "ATmega128");
    std::string error;
    QVERIFY(chip->set("avr.lock", "FE", error)); // lock mode 2 locks the fuses as well
    w.btnTipo->click();
    w.btnReadFuseBits->click();
    w.CheckBoxes[22]->click(); // CKOPT
    w.CheckBoxes[23]->click(); // EESAVE
    p.messages.clear();
    w.btnFuseBits->click();
    QCOMPARE(p.messages.size(), 2);
    // Bit 0 of each byte first, as the chip is read.
    QVERIFY2(p.messages[0].endsWith(QStringLiteral("EESAVE 1 -> 0\rCKOPT 1 -> 0")),
             qPrintable(p.messages[0]));
    QCOMPARE(p.messages[1], QStringLiteral("ERROR|The chip did not take every fuse bit: EESAVE is "
                                           "1, CKOPT is 1 after the write.\rFuse Bits NOT set."));
    QCOMPARE(chip->fuse(1), std::uint8_t(0x99));
}

void AvrPageTest::startUpState()
{
    Program p;
    TVentana& w = *p.ventana;
    QCOMPARE(w.lbTipo->text(), QStringLiteral("??"));
    QCOMPARE(page(w.Notebook1), QStringLiteral("Empty"));
    QCOMPARE(w.prFlash->value(), 0);
    QCOMPARE(w.prEEPInt->value(), 0);
    const QList<QToolButton*> read{w.btnTestBlank,   w.btnLeerFlash, w.btnLeerEEPInt,
                                   w.btnFLashVerif,  w.btnEEPInt,    w.btnReadLockBits,
                                   w.btnReadFuseBits};
    QStringList captions;
    for (QToolButton* b : read) {
        captions << b->text();
        QVERIFY(b->isEnabled());
    }
    QCOMPARE(captions,
             (QStringList{"Blank-test", "Read Flash", "Read internal eeprom", "Verify Flash",
                          "Verify internal eeprom", "Read Lock Bits", "Read Fuse Bits"}));
    QCOMPARE(w.btnTestBlank->toolTip(),
             QString::fromUtf8("Sprawdza czy flash i internal eeprom zawierają jakieś dane"));
    QCOMPARE(w.btnBorrar->text(), QStringLiteral("Erase chip"));
    QCOMPARE(w.BitBtn1->text(), QStringLiteral("Program internal eeprom"));
    QCOMPARE(w.btnTipo->text(), QStringLiteral("Identify microprocessor"));
    QCOMPARE(w.btnTipo->toolTip(), QStringLiteral("Sprawdzenie typu procesora ATMEL"));
    // The lock and fuse buttons line up with their READ partners.
    w.show();
    QCoreApplication::processEvents();
    QCOMPARE(w.btnLockBits->y(), w.btnReadLockBits->y());
    QCOMPARE(w.btnFuseBits->y(), w.btnReadFuseBits->y());
    QVERIFY(w.btnReadFuseBits->x() > w.btnFuseBits->x());
}

void AvrPageTest::identificationSwitchesPagesGroupAndButton()
{
    Program p;
    TVentana& w = *p.ventana;
    struct Case {
        const char* device;
        const char* label;
        const char* notebook1;
        const char* inner; // Notebook2 or Notebook4
        bool readLock;
    };
    const Case cases[] = {
        {"ATmega128", "ATmega128 (128kb flash)", "ATmega128", "128", true},
        {"AT90S8515", "AT90S8515 (8kb flash)", "AT90Sxxxx", "AT90Sxxxx", false},
        {"ATmega103", "ATmega103 (128kb flash)", "ATmega128", "103", true},
        {"AT90S8535", "AT90S8535 (8kb flash)", "AT90Sxxxx", "AT90Sxxxx", true},
        {"ATmega163", "ATmega163 (16kb flash)", "ATmega128", "163", true},
        {"ATtiny12", "ATtiny12 (1kb flash)", "AT90Sxxxx", "ATtiny", true},
    };
    for (const Case& c : cases) {
        insertAvr(p, c.device);
        w.btnTipo->click();
        QCOMPARE(w.lbTipo->text(), QString::fromLatin1(c.label));
        QCOMPARE(page(w.Notebook1), QString::fromLatin1(c.notebook1));
        const bool mega = QByteArray(c.notebook1) == "ATmega128";
        QCOMPARE(page(mega ? w.Notebook2 : w.Notebook4), QString::fromLatin1(c.inner));
        QCOMPARE(w.btnReadLockBits->isEnabled(), c.readLock);
        if (QByteArray(c.device) == "AT90S8515")
            QVERIFY(w.GroupBox4->isHidden());
        if (QByteArray(c.device) == "AT90S8535")
            QVERIFY(!w.GroupBox4->isHidden());
    }
    QCOMPARE(page(w.Notebook3), QStringLiteral("LB128"));
    QCOMPARE(p.messages, QStringList());
    QCOMPARE(p.board.data(), std::uint8_t(0x00));
}

void AvrPageTest::escapeRunsTheBlankTest()
{
    Program p;
    TVentana& w = *p.ventana;
    auto* chip = insertAvr(p, "AT90S2313");
    chip->flash()[5] = 0x12;
    w.show();
    QApplication::setActiveWindow(&w);
    w.PageControl1->setCurrentIndex(0);
    // Wherever the focus is: on the tabs at start, and nowhere after a command.
    QTest::keyClick(&w, Qt::Key_Escape);
    QCOMPARE(p.messages.size(), 1);
    QVERIFY(p.messages[0].startsWith(QStringLiteral("NO BLANK|")));
    QTest::keyClick(&w, Qt::Key_Escape);
    QCOMPARE(p.messages.size(), 2);
    // Escape while the blank test runs stops it after the byte in hand, with the lines low.
    chip->flash()[5] = 0xFF;
    QObject::connect(w.prFlash, &QProgressBar::valueChanged, w.prFlash, [&](int v) {
        if (v == 50)
            QTest::keyClick(&w, Qt::Key_Escape);
    });
    QTest::keyClick(&w, Qt::Key_Escape);
    QCOMPARE(p.messages.size(), 3);
    QCOMPARE(p.messages[2],
             QStringLiteral("WARNING:|Operation stopped before the end: nothing was compared."));
    QCOMPARE(w.prFlash->value(), 50);
    QCOMPARE(p.board.data(), std::uint8_t(0x00));
    QVERIFY(w.lbStatus->text().startsWith(QStringLiteral("Blank test stopped at 0x")));
    // Not on the EEPROM page.
    w.PageControl1->setCurrentIndex(1);
    w.SG->setFocus();
    QTest::keyClick(w.SG, Qt::Key_Escape);
    QCOMPARE(p.messages.size(), 3);
}

void AvrPageTest::flashProgramAndVerifyThroughTheDialogs()
{
    Program p;
    TVentana& w = *p.ventana;
    auto* chip = insertAvr(p, "ATmega163");
    int highest = 0;
    int moves = 0;
    QObject::connect(w.prFlash, &QProgressBar::valueChanged, w.prFlash, [&](int v) {
        highest = std::max(highest, v);
        ++moves;
    });
    // Each memory's dialog comes with its own last file: none yet, then the flash's; the
    // internal eeprom's is not the flash's.
    QStringList offered;
    const auto execFileDialog = w.execFileDialog;
    w.execFileDialog = [&](QFileDialog& d) {
        offered << QFileInfo(d.selectedFiles().value(0)).fileName();
        return execFileDialog(d);
    };
    p.nextFile = QStringLiteral(SAMPLES_DIR "/blink-atmega163.hex");
    w.btnProgFlash->click();
    QCOMPARE(p.messages, QStringList());
    QCOMPARE(highest, 100);
    QVERIFY(moves >= 50);
    QCOMPARE(chip->flash()[0], std::uint8_t(0x0C)); // the first word of the blink program
    w.btnFLashVerif->click();
    QCOMPARE(p.messages, (QStringList{"Verification complete|VERIFICATION: OK !!!!!"}));
    QCOMPARE(p.dialogs, (QStringList{"Open file", "Select file to verify FLASH"}));
    p.nextFile.clear();
    w.BitBtn1->click();
    QCOMPARE(offered, (QStringList{"*.hex", "blink-atmega163.hex", "*.hex"}));
    // A file shorter than the flash: the status bar says how much of the flash it gave.
    const QString kib = p.dir.path() + QStringLiteral("/one-kib.bin");
    QFile bin(kib);
    QVERIFY(bin.open(QIODevice::WriteOnly));
    bin.write(QByteArray(1024, 0x5A));
    bin.close();
    p.nextFile = kib;
    w.btnProgFlash->click();
    QVERIFY2(w.lbStatus->text().endsWith(
                 QStringLiteral(", not verified: 1024 from the file, the rest erased (0xFF)")),
             qPrintable(w.lbStatus->text()));
    QCOMPARE(chip->flash()[1023], std::uint8_t(0x5A));
    QCOMPARE(chip->flash()[1024], std::uint8_t(0xFF));
    p.nextFile = QStringLiteral(SAMPLES_DIR "/blink-atmega163.hex");
    w.btnProgFlash->click();
    p.messages.clear();
    QCOMPARE(w.OD->windowTitle(), QStringLiteral("Open file"));
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(p.board.data(), std::uint8_t(0x00));

    // Five bytes differ: the verify still gives its message for the first, and the status bar
    // walks all five with the file's and the chip's byte, round to the other end.
    QVERIFY(!w.btnNextAvrDifference->isEnabled());
    const std::uint32_t changed[] = {0x0001, 0x0010, 0x0100, 0x2000, 0x3FFF};
    QStringList expected;
    for (int i = 0; i < 5; ++i) {
        const std::uint8_t file = chip->flash()[changed[i]];
        chip->flash()[changed[i]] ^= 0xFF;
        expected << QString::asprintf("Flash difference %d of 5 at 0x%04X: file %02X, chip %02X",
                                      i + 1, changed[i], file, file ^ 0xFF);
    }
    p.messages.clear();
    w.btnFLashVerif->click();
    QCOMPARE(p.messages,
             (QStringList{"End verification|VERIFICATION: ERROR (Difference at byte: $0001)"}));
    QCOMPARE(w.lbStatus->text(),
             QStringLiteral("Verify found 5 differing bytes of flash, the first at 0x0001"));
    QStringList walked;
    for (int i = 0; i < 6; ++i) {
        w.btnNextAvrDifference->click();
        walked << w.lbStatus->text();
    }
    QCOMPARE(walked, expected + QStringList{expected[0]});
    w.btnPreviousAvrDifference->click();
    QCOMPARE(w.lbStatus->text(), expected[4]);
    // Another chip identified: the differences were the other chip's, and F8 steps none.
    insertAvr(p, "ATmega128");
    w.btnTipo->click();
    const QString identified = w.lbStatus->text();
    QVERIFY(!w.btnNextAvrDifference->isEnabled());
    w.btnNextAvrDifference->setEnabled(true);
    w.btnNextAvrDifference->click();
    QCOMPARE(w.lbStatus->text(), identified);
}

void AvrPageTest::manualLineTest()
{
    Program p;
    TformManual& m = *p.manual;
    QVERIFY(!m.cbMISO->isEnabled());
    QVERIFY(!m.btnParar->isEnabled());
    m.show();
    m.Timer1Timer();
    QCOMPARE(p.board.data(), std::uint8_t(0x00));
    QVERIFY(m.cbMISO->isChecked()); // an empty socket lets MISO float high
    m.cbVCC->setChecked(true);
    m.cbSCK->setChecked(true);
    m.Timer1Timer();
    QCOMPARE(p.board.data(), std::uint8_t(0x47));
    m.hide();
    QCOMPARE(p.board.data(), std::uint8_t(0x00));
    QVERIFY(!m.Timer1->isActive());
    // Reopening restores the boxes' levels at the next tick.
    m.show();
    QVERIFY(m.Timer1->isActive());
    m.Timer1Timer();
    QCOMPARE(p.board.data(), std::uint8_t(0x47));
    m.hide();
    // The burst: VCC, SCK and RESET up, XTAL pulsed, then the boxes again; the cursor comes back.
    m.burstPulses = 1000;
    m.show();
    m.btnXTALClick();
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(m.Timer1->isActive());
    m.hide();
    QCOMPARE(p.board.data(), std::uint8_t(0x00));
}

// A part of the part table gets the page built from its data: a column per fuse byte and the lock
// byte, each bit by name with its description as hint and a state label; reads, writes, the
// factory-default preset and the warning of a bit that ends serial programming.
void AvrPageTest::partEditorPageFromTheData()
{
    Program p;
    TVentana& w = *p.ventana;
    sim::AvrTarget* chip = insertAvr(p, "ATmega328P");
    w.btnTipo->click();
    QCOMPARE(w.lbTipo->text(), QStringLiteral("ATmega328P (32kb flash)"));
    QCOMPARE(page(w.Notebook1), QStringLiteral("Part"));
    // At 1024 x 700 (less the title bar) every group is in view across, and no text is cut.
    w.resize(1024, 636);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // A window manager may map the window before it takes the size.
    QTRY_COMPARE(w.size(), QSize(1024, 636));
    QTRY_COMPARE(w.editorScroll->horizontalScrollBar()->maximum(), 0);
    for (QLabel* state : w.Notebook1->currentWidget()->findChildren<QLabel*>())
        QVERIFY2(QFontMetrics(state->font()).horizontalAdvance(state->text()) <= state->width(),
                 qPrintable(state->objectName()));
    for (const char* group :
         {"PartByte_lfuse", "PartByte_hfuse", "PartByte_efuse", "PartByte_lock"})
        QVERIFY2(w.findChild<QGroupBox*>(QString::fromLatin1(group)), group);
    auto bit = [&](const char* name) {
        return w.findChild<QCheckBox*>(QStringLiteral("PartBit_") + QString::fromLatin1(name));
    };
    QCOMPARE(bit("EESAVE")->toolTip(),
             QStringLiteral("EEPROM memory is preserved through chip erase"));
    QVERIFY(bit("BLB12"));

    std::string error;
    QVERIFY(chip->set("avr.fuse.low", "E2", error));
    w.btnReadFuseBits->click();
    QVERIFY(!bit("CKDIV8")->isChecked());
    bit("CKDIV8")->click();
    QVERIFY(bit("CKDIV8")->isChecked());
    // Marked as a catalogue page's box is, by the same code.
    QVERIFY(bit("CKDIV8")->font().bold());
    QVERIFY(bit("CKDIV8")->toolTip().endsWith(
        QStringLiteral("\nChanged: the chip holds 1 (unprogrammed)")));
    QVERIFY(!bit("CKOUT")->font().bold());
    bit("EESAVE")->click();
    p.messages.clear();
    w.btnFuseBits->click();
    QCOMPARE(p.messages.size(), 2);
    QVERIFY2(p.messages[0].contains(QStringLiteral("EESAVE 1 -> 0")), qPrintable(p.messages[0]));
    QCOMPARE(p.messages[1], QStringLiteral("OK|Fuse Bits set !!"));
    QCOMPARE(chip->fuse(0), 0x62);
    QCOMPARE(chip->fuse(1), 0xD1);

    // The preset puts the data's factory values back in the boxes.
    w.findChild<QPushButton*>(QStringLiteral("PartFactoryDefault"))->click();
    QVERIFY(!bit("EESAVE")->isChecked());
    auto* state = w.findChild<QLabel*>(QStringLiteral("PartState_EESAVE"));
    QVERIFY(state);
    QCOMPARE(state->text(), QStringLiteral("1 unprogrammed"));

    // RSTDISBL stays disabled until its button's warning is answered; the confirmation then says,
    // above its list, that the chip will no longer answer.
    p.messages.clear();
    QVERIFY(!bit("RSTDISBL")->isEnabled());
    w.findChild<QPushButton*>(QStringLiteral("PartEnable_RSTDISBL"))->click();
    QCOMPARE(p.messages.size(), 1);
    QVERIFY(p.messages[0].startsWith(QStringLiteral("WARNING|RSTDISBL programmed ends")));
    QVERIFY(bit("RSTDISBL")->isEnabled());
    bit("RSTDISBL")->click();
    w.btnFuseBits->click();
    const QString confirmation = p.messages.value(1);
    const auto note = confirmation.indexOf(QStringLiteral(
        "After this write the ATmega328P (32kb flash) will no longer answer this programmer"));
    QVERIFY2(note > 0 && note < confirmation.indexOf(QStringLiteral("Bits that change")),
             qPrintable(confirmation));
    QCOMPARE(p.messages.last(), QStringLiteral("OK|Fuse Bits set !!"));
    QCOMPARE(chip->fuse(1) & 0x80, 0);
    p.messages.clear();
    w.btnTipo->click();
    // The message says what to try after its own text.
    QCOMPARE(p.messages,
             QStringList{QStringLiteral("ERROR|Processor not detected!!!\rCheck that the chip sits "
                                        "in the socket the right way round, that the board is on "
                                        "the port chosen and that its supply is on.")});

    // Another part gets its own page, none of the ATmega328P's groups left. A bit its write
    // cannot reach is shown disabled, with no button to release it.
    insertAvr(p, "AT90S4433");
    w.btnTipo->click();
    QCOMPARE(w.lbTipo->text(), QStringLiteral("AT90S4433 (4kb flash)"));
    QStringList groups;
    for (const QGroupBox* g : w.Notebook1->currentWidget()->findChildren<QGroupBox*>())
        groups << g->objectName();
    QCOMPARE(groups, (QStringList{"PartByte_fuse", "PartByte_lock"}));
    QVERIFY(bit("SPIEN") && !bit("SPIEN")->isEnabled());
    QVERIFY(!w.findChild<QPushButton*>(QStringLiteral("PartEnable_SPIEN")));
    w.btnReadFuseBits->click();
    QVERIFY(bit("SPIEN")->isChecked() && !bit("SPIEN")->isEnabled());
}

// The AT90S1200 (page "Part") and the AT90S2313 (the catalogue's AT90S group) cannot read their
// lock bits: identified, they write them unchecked, and say so before the write.
void AvrPageTest::partPageWritesLockBitsTheChipCannotRead()
{
    for (const char* device : {"AT90S1200", "AT90S2313"}) {
        Program p;
        TVentana& w = *p.ventana;
        sim::AvrTarget* chip = insertAvr(p, device);
        w.btnTipo->click();
        QVERIFY(!w.btnReadLockBits->isEnabled());
        QVERIFY2(w.btnLockBits->isEnabled(), device);
        QCheckBox* lb1 = w.findChild<QCheckBox*>(QStringLiteral("PartBit_LB1"));
        if (!lb1)
            lb1 = w.CheckBoxes[1];
        lb1->click();
        p.messages.clear();
        w.btnLockBits->click();
        QCOMPARE(p.messages.size(), 2);
        QVERIFY2(p.messages[0].contains(QStringLiteral("LB1 1 -> 0")), qPrintable(p.messages[0]));
        QVERIFY2(p.messages[0].contains(QStringLiteral("cannot read its lock bits")),
                 qPrintable(p.messages[0]));
        QVERIFY2(p.messages[1].startsWith(QStringLiteral("OK|")), qPrintable(p.messages[1]));
        QVERIFY2(chip->lock() != 0xFF, device);
        QCOMPARE(p.board.data(), std::uint8_t(0x00));
    }
}

void AvrPageTest::identifyReadsTheBitsIntoTheEditors()
{
    Program p;
    TVentana& w = *p.ventana;
    auto* chip = insertAvr(p, "ATmega128");
    std::string error;
    QVERIFY(chip->set("avr.fuse.high", "99",
                      error)); // 1001 1001: JTAGEN, SPIEN, BOOTSZ1, BOOTSZ0 programmed
    // Nothing can be programmed from editors that do not hold the chip's bits.
    QVERIFY(!w.btnFuseBits->isEnabled());
    QVERIFY(!w.btnLockBits->isEnabled());
    w.btnTipo->click();
    QCOMPARE(p.messages, QStringList());
    QVERIFY(w.btnFuseBits->isEnabled());
    QVERIFY(w.btnLockBits->isEnabled());
    QCOMPARE(w.lbStatus->text(),
             QStringLiteral("Identified ATmega128 (128kb flash), signature 0x1E 0x97 0x02; lock "
                            "and fuse bits read"));
    const struct {
        int box;
        bool checked;
    } boxes[] = {{19, false}, {20, true}, {22, false}, {23, false},
                 {26, false}, {31, true}, {34, false}};
    for (const auto& b : boxes)
        QVERIFY2(w.CheckBoxes[b.box]->isChecked() == b.checked, qPrintable(QString::number(b.box)));
    checkLabelsFollowBoxes(w);
    // Nothing edited: the write proposes no change and writes nothing.
    w.btnFuseBits->click();
    QCOMPARE(p.messages, QStringList{QStringLiteral("OK|Fuse Bits set !!")});
    QCOMPARE(chip->fuse(1), 0x99);
    // A box the user changes is marked, with the chip's value in its tool tip, until it is back.
    QCheckBox* ckopt = w.CheckBoxes[22];
    QVERIFY(!ckopt->font().bold());
    ckopt->click();
    QVERIFY(ckopt->font().bold());
    QVERIFY(ckopt->toolTip().endsWith(QStringLiteral("Changed: the chip holds 1 (unprogrammed)")));
    ckopt->click();
    QVERIFY(!ckopt->font().bold());
    // Another chip in the socket: identifying it fails, and the buttons wait for a new read.
    p.board.removeAvr();
    w.btnTipo->click();
    QVERIFY(!w.btnFuseBits->isEnabled());
    QCOMPARE(w.lbStatus->text(), QStringLiteral("Identify failed: processor not detected"));
}

// Closing while a command runs asks, stops it after the unit in hand with the lines low and
// closes at once; only a stopped write says what it left in the chip.
void AvrPageTest::closingDuringAProgramStopsItWithTheLinesLow()
{
    const struct {
        bool program;
        const char* box; // after the close question
    } cases[] = {{true, "WARNING:|Operation stopped: the chip may be partly written."},
                 {false, nullptr}};
    for (const auto& c : cases) {
        Program p;
        TVentana& w = *p.ventana;
        auto* chip = insertAvr(p, "ATmega163");
        const std::vector<std::uint8_t> blank = chip->flash();
        w.show();
        p.nextFile = QStringLiteral(SAMPLES_DIR "/blink-atmega163.hex");
        QObject::connect(w.prFlash, &QProgressBar::valueChanged, w.prFlash, [&](int v) {
            if (v == 3)
                w.close();
        });
        (c.program ? w.btnProgFlash : w.btnTestBlank)->click();
        for (int i = 0; i < 10 && w.isVisible(); ++i)
            QCoreApplication::processEvents();
        QVERIFY(!w.isVisible());
        QCOMPARE(p.messages.size(), c.box ? 2 : 1);
        QVERIFY(p.messages[0].startsWith(QStringLiteral("WARNING:|A chip operation is running.")));
        if (c.box)
            QCOMPARE(p.messages[1], QString::fromLatin1(c.box));
        QCOMPARE(w.prFlash->value(), 3);
        QCOMPARE(p.board.data(), std::uint8_t(0x00));
        // The start was written, or nothing.
        QCOMPARE(chip->flash()[0], c.program ? std::uint8_t(0x0C) : blank[0]);
        if (!c.program)
            QVERIFY(w.lbStatus->text().startsWith(QStringLiteral("Blank test stopped at 0x")));
    }
}

// Parts that answer one signature with other bits: the window names all of them and offers the
// choice; the fuses are written only once a part is chosen, by that part's bits.
void AvrPageTest::aSignatureOfSeveralPartsIsAChoice()
{
    Program p;
    TVentana& w = *p.ventana;
    sim::AvrTarget* chip = insertAvr(p, "AT90PWM2B");
    w.btnTipo->click();
    QCOMPARE(w.lbTipo->text(), QStringLiteral("AT90PWM1, AT90PWM2B or AT90PWM3B (8kb flash)"));
    QVERIFY(!w.cbPart->isHidden());
    QCOMPARE(w.cbPart->count(), 3);
    QCOMPARE(w.cbPart->currentIndex(), -1);
    p.messages.clear();
    w.btnFuseBits->click();
    QVERIFY2(p.messages.value(0).contains(QStringLiteral("choose the part in the socket first")),
             qPrintable(p.messages.value(0)));

    w.cbPart->setCurrentIndex(1);
    emit w.cbPart->activated(1);
    QCOMPARE(w.lbTipo->text(), QStringLiteral("AT90PWM2B (8kb flash)"));
    QCOMPARE(w.cbPart->currentText(), QStringLiteral("AT90PWM2B"));
    auto* psc1rb = w.findChild<QCheckBox*>(QStringLiteral("PartBit_PSC1RB"));
    QVERIFY(psc1rb);
    psc1rb->click();
    p.messages.clear();
    w.btnFuseBits->click();
    QCOMPARE(p.messages.value(1), QStringLiteral("OK|Fuse Bits set !!"));
    QCOMPARE(chip->fuse(2) & 0x40, 0);
    // Another chip, identified afresh, is no choice.
    insertAvr(p, "ATmega328P");
    w.btnTipo->click();
    QVERIFY(w.cbPart->isHidden());
    QCOMPARE(w.lbTipo->text(), QStringLiteral("ATmega328P (32kb flash)"));
}

namespace {
// Every box that shows a bit of the identified chip shows it as the chip holds it, or is cleared
// and disabled; gives how many are cleared, 1000 for each that is wrong.
int checkEditorsAgainstChip(TVentana& w, const sim::AvrTarget& chip)
{
    const PartBits& bits = w.editor().bits();
    int result = 0;
    const auto check = [&](QCheckBox* box, int byte, int bit) {
        const std::uint8_t v = byte == bits.lockByte() ? chip.lock() : chip.fuse(byte);
        const bool cleared = box->checkState() == Qt::PartiallyChecked;
        result += cleared && !box->isEnabled()                      ? 1
                  : !cleared && box->isChecked() != !(v >> bit & 1) ? 1000
                                                                    : 0;
    };
    for (int n = 1; n <= 65; ++n)
        if (const auto bit = w.editor().bitOf(n); bit && w.CheckBoxes[n])
            check(w.CheckBoxes[n], bit->byte, bit->bit);
    for (QCheckBox* box :
         w.findChildren<QCheckBox*>(QRegularExpression(QStringLiteral("^PartBit_"))))
        if (box->isVisibleTo(&w))
            check(box, box->property("byte").toInt(), box->property("bit").toInt());
    return result;
}
} // namespace

// A blank test identifies the chip: its bits show once read. A read with no chip identified
// identifies it first.
void AvrPageTest::editorsShowTheChipOrNothing()
{
    const struct {
        const char* before;
        QToolButton* TVentana::*command;
        const char* device;
    } cases[] = {{"ATmega163", &TVentana::btnTestBlank, "ATmega328P"},
                 {"ATmega163", &TVentana::btnTestBlank, "ATmega128"},
                 {nullptr, &TVentana::btnReadFuseBits, "ATmega128"},
                 {nullptr, &TVentana::btnReadLockBits, "ATmega128"}};
    for (const auto& c : cases) {
        Program p;
        TVentana& w = *p.ventana;
        if (c.before) {
            insertAvr(p, c.before);
            w.btnTipo->click();
        }
        sim::AvrTarget* chip = insertAvr(p, c.device);
        std::string error;
        QVERIFY(chip->set("avr.fuse.low", "E2", error) && chip->set("avr.fuse.high", "DE", error));
        (w.*c.command)->click();
        QVERIFY(w.lbTipo->text().startsWith(QLatin1String(c.device)));
        QVERIFY(!w.lbStatus->text().contains(QStringLiteral("??")));
        const int cleared = checkEditorsAgainstChip(w, *chip);
        QCOMPARE(cleared > 0, !w.lbEditorNote->isHidden());
        QCOMPARE(cleared > 0, bool(c.before));
        QVERIFY(cleared < 1000 && w.btnFuseBits->isEnabled() == !c.before);
        w.btnReadFuseBits->click();
        w.btnReadLockBits->click();
        QCOMPARE(checkEditorsAgainstChip(w, *chip), 0);
    }
}

// The chip changed behind the window's back (vardel-cli) is read by the write's plan; after a
// Cancel the editors show it as read. Lock bits only ever go programmed: an erase releases them.
void AvrPageTest::aCancelledWriteShowsTheBitsItReadInTheChip()
{
    const struct {
        const char *key, *before, *after;
        int box;
        QToolButton* TVentana::*button;
    } cases[] = {{"avr.fuse.low", "E1", "C4", 22, &TVentana::btnFuseBits},
                 {"avr.lock", "FC", "FF", 5, &TVentana::btnLockBits}};
    for (const auto& c : cases) {
        Program p;
        TVentana& w = *p.ventana;
        sim::AvrTarget* chip = insertAvr(p, "ATmega128");
        std::string error;
        QVERIFY(chip->set(c.key, c.before, error));
        w.btnTipo->click();
        QVERIFY(chip->set(c.key, c.after, error));
        w.host().answerMessage = [](auto&, auto&, Host::Buttons b, Host::Icon) {
            return b == Host::Buttons::Ok ? Host::Result::Ok : Host::Result::Cancel;
        };
        w.CheckBoxes[c.box]->click();
        (w.*c.button)->click();
        QCOMPARE(checkEditorsAgainstChip(w, *chip), 0);
    }
}

// When a result box appears, the status bar says how its command ended; a text too long for the
// status bar is cut and given whole as its tool tip.
void AvrPageTest::theStatusBarSaysTheOutcomeWhenItsBoxAppears()
{
    Program p;
    TVentana& w = *p.ventana;
    insertAvr(p, "ATmega128");
    w.btnTipo->click();
    QStringList atTheBox;
    w.host().answerMessage = [&](auto&, const std::string& caption, Host::Buttons b, Host::Icon) {
        atTheBox << QString::fromStdString(caption) + "|" + w.lbStatus->text();
        return atTheBox.size() == 1 && b != Host::Buttons::Ok ? Host::Result::Cancel
                                                              : Host::Result::Ok;
    };
    for (QToolButton* b : {w.btnFuseBits, w.btnFuseBits, w.btnTestBlank}) {
        w.CheckBoxes[22]->setChecked(true);
        emit w.CheckBoxes[22]->clicked(true);
        b->click();
    }
    p.board.removeAvr();
    w.btnTipo->click();
    QCOMPARE(atTheBox.mid(2).replaceInStrings(QRegularExpression(QStringLiteral(" [(0-9].*")), ""),
             (QStringList{"OK|Programmed the fuse bits of ATmega128", "BLANK-TEST|Blank test in",
                          "ERROR|Identify failed: processor not detected"}));

    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    for (const int width : {1024, 640}) {
        w.resize(width, 636);
        QTRY_COMPARE(w.width(), width);
        w.host().StatusText(atTheBox[2].toStdString() + " and read them back");
        w.lbStatus->repaint();
        const bool fits = w.lbStatus->fontMetrics().horizontalAdvance(w.lbStatus->text()) <=
                          w.lbStatus->contentsRect().width();
        QCOMPARE(w.lbStatus->toolTip(), fits ? QString() : w.lbStatus->text());
        QVERIFY(width == 1024 || !fits);
    }
}

QTEST_MAIN(AvrPageTest)
#include "avr_page_test.moc"

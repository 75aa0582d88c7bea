// Draws a window of the program on a simulated board and saves it as a PNG, for the
// documentation:
//   xvfb-run -s "-screen 0 1280x800x24" sh -c 'openbox & sleep 1; screenshot WHAT OUT.png'
// WHAT: eeprom-page, eeprom-verify (differences found, the second one selected with the chip's
// byte in the status bar), avr-DEVICE (the AVR page with the editors of that chip after
// identifying it, which reads its lock and fuse bits), avr-changed (an ATmega128 with a box the
// user changed), avr-part-changed (an ATmega328P with a box released and one changed),
// lockout-confirmation (the confirmation of a write that ends serial programming), about, progress
// (during a read), configuration, manual-line-test, message-box, eeprom-25256 and eeprom-93c46x16
// (a 25xx or 93Cxx read on the AVR socket's lines), eeprom-protected (the question before
// programming a write-protected 25xx), status-bar (the main window after a verify with
// differences, stepped with F8: run it on a 1024x700 screen, and on a 1600x1000 one with
// QT_SCALE_FACTOR=1.5). The main window, frame and title bar included, is made to fit the
// screen's available room.
#include "hw/bit_timing.h"
#include "hw/settings.h"
#include "i2c/eeprom_types.h"
#include "sim/chips.h"
#include "sim/eeprom_24cxx.h"
#include "sim/sim_board.h"
#include "ui/QtHost.h"
#include "ui/UnAbout.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui/Unit3.h"
#include "ui/unManual.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {
int timing(TVentana& w)
{
    return w.timing().DelayFactor;
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr,
                     "usage: screenshot eeprom-page|eeprom-verify|avr-DEVICE|about|progress|"
                     "configuration|manual-line-test|message-box|status-bar OUT.png\n");
        return 2;
    }
    const QString what = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    QTemporaryDir dir;
    vardel::VirtualClock clock;
    vardel::sim::SimBoard board(clock);
    vardel::Settings settings((dir.path() + "/VARDEL.ini").toStdString());
    TVentana w(board, clock, settings);
    TAboutBox about(&w);
    TformProgreso progreso(&w);
    TformConfig config(&w);
    TformManual manual(&w);
    w.setForms(&about, &progreso, &config, &manual);
    w.host().answerMessage = [](const std::string&, const std::string&, vardel::Host::Buttons,
                                vardel::Host::Icon) {
        return vardel::Host::Result::Ok;
    };
    w.resize(1024, 700);
    w.show();

    // The window to save; the whole screen for the progress window, which shows over the main
    // window.
    QWidget* target = &w;
    std::unique_ptr<QMessageBox> box;
    auto insertEeprom = [&](const char* type) {
        auto chip =
            std::make_unique<vardel::sim::Eeprom24Cxx>(*vardel::sim::Eeprom24Cxx::findType(type));
        const char text[] =
            "Vardel reads 24Cxx serial EEPROMs and AVR chips on the parallel port. ";
        for (std::size_t i = 0; i < chip->memory().size(); ++i)
            chip->memory()[i] =
                i < 200 ? std::uint8_t(text[i % (sizeof text - 1)]) : std::uint8_t(i * 37 + 11);
        auto* raw = chip.get();
        board.insertEeprom(std::move(chip));
        w.PageControl1->setCurrentIndex(1);
        w.cbChip->setCurrentIndex(vardel::FindEepromType(type));
        return raw;
    };

    // A 25xx or 93Cxx on the AVR socket's lines, holding the same text.
    auto insertSerial = [&](const char* type) {
        auto chip = vardel::sim::MakeAvrSocketEeprom(type);
        const char text[] = "Vardel reads 25xx SPI and 93Cxx Microwire EEPROMs on the AVR lines. ";
        for (std::size_t i = 0; i < chip->memory().size(); ++i)
            chip->memory()[i] =
                i < 140 ? std::uint8_t(text[i % (sizeof text - 1)]) : std::uint8_t(i * 37 + 11);
        board.removeEeprom();
        board.insertAvr(std::move(chip));
        w.PageControl1->setCurrentIndex(1);
        w.cbChip->setCurrentIndex(vardel::FindEepromType(type));
    };

    if (what == QLatin1String("eeprom-25256") || what == QLatin1String("eeprom-93c46x16")) {
        insertSerial(what.mid(7)
                         .toUpper()
                         .replace(QLatin1Char('X'), QLatin1Char('x'))
                         .toLatin1()
                         .constData());
        w.Leerchip1Click();
    } else if (what == QLatin1String("eeprom-protected")) {
        box = QtHost::makeMessageBox(
            "The 25256 is write-protected from 0x6000 to 0x7FFF (block-protect bits BP1 BP0 = "
            "01).\rClear the block-protect bits and program the whole chip?",
            "WARNING:", vardel::Host::Kind::Question, vardel::Host::Buttons::OkCancelDefaultCancel,
            vardel::Host::Icon::Exclamation, &w);
        box->show();
        target = box.get();
    } else if (what == QLatin1String("eeprom-page")) {
        insertEeprom("24C04");
        w.Leerchip1Click();
    } else if (what == QLatin1String("eeprom-verify") || what == QLatin1String("status-bar")) {
        auto* chip = insertEeprom("24C16");
        w.Leerchip1Click();
        chip->memory()[0x5A3] ^= 0x20;
        chip->memory()[0x5A6] ^= 0x04;
        chip->memory()[0x700] ^= 0x01;
        w.Verificar1Click();
        w.nextDifferenceClick();
    } else if (what == QLatin1String("progress")) {
        insertEeprom("24C256");
        // A tenth of the way through the read, the main window and the progress window over it are
        // saved from the screen, and the read is cancelled.
        bool saved = false;
        // The screen holds what was drawn up to the previous step.
        QObject::connect(progreso.Progreso, &QProgressBar::valueChanged, &progreso, [&](int v) {
            if (v != 11 || saved)
                return;
            saved = true;
            const QRect area = w.frameGeometry();
            QApplication::primaryScreen()
                ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                .save(out);
            progreso.CancelFlag = 1;
        });
        w.Leerchip1Click();
        return saved ? 0 : 1;
    } else if (what == QLatin1String("about")) {
        about.show();
        target = &about;
    } else if (what == QLatin1String("configuration")) {
        config.tb->setValue(timing(w));
        config.show();
        target = &config;
    } else if (what == QLatin1String("manual-line-test")) {
        manual.show();
        target = &manual;
    } else if (what == QLatin1String("message-box")) {
        box = QtHost::makeMessageBox("Defference found at byte no.: 1443", "VERIFICATION ERROR",
                                     vardel::Host::Kind::Difference, vardel::Host::Buttons::Ok,
                                     vardel::Host::Icon::None, &w);
        box->show();
        target = box.get();
    } else if (what == QLatin1String("lockout-confirmation")) {
        // An ATmega328P whose RSTDISBL the user has released and checked: the confirmation of
        // "Program Fuse Bits", answered Cancel here and then shown for the picture.
        std::string error;
        board.insertAvr(vardel::sim::MakeAvrChip("ATmega328P", "", error));
        w.PageControl1->setCurrentIndex(0);
        w.btnTipoClick();
        std::string question;
        w.host().answerMessage = [&](const std::string& text, const std::string& caption,
                                     vardel::Host::Buttons, vardel::Host::Icon) {
            if (caption == "Program Fuse Bits") {
                question = text;
                return vardel::Host::Result::Cancel;
            }
            return vardel::Host::Result::Ok;
        };
        w.findChild<QPushButton*>(QStringLiteral("PartEnable_RSTDISBL"))->click();
        w.findChild<QCheckBox*>(QStringLiteral("PartBit_RSTDISBL"))->click();
        w.btnFuseBitsClick();
        box = QtHost::makeMessageBox(question, "Program Fuse Bits", vardel::Host::Kind::Question,
                                     vardel::Host::Buttons::OkCancelDefaultCancel,
                                     vardel::Host::Icon::Exclamation, &w);
        box->show();
        target = box.get();
    } else if (what.startsWith(QLatin1String("avr-"))) {
        // avr-atmega128, avr-at90s8535, ...: the AVR page after identifying the chip, which reads
        // its lock and fuse bits into the editors; avr-changed: an ATmega128 and a box changed.
        // avr-part-changed: an ATmega328P on the page "Part", RSTDISBL released and CKDIV8 changed.
        const bool changed = what == QLatin1String("avr-changed");
        const bool partChanged = what == QLatin1String("avr-part-changed");
        std::string error;
        auto chip = vardel::sim::MakeAvrChip(changed       ? std::string("ATmega128")
                                             : partChanged ? std::string("ATmega328P")
                                                           : what.mid(4).toStdString(),
                                             "", error);
        if (!chip) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 2;
        }
        board.insertAvr(std::move(chip));
        w.PageControl1->setCurrentIndex(0);
        w.btnTipoClick();
        if (changed)
            w.CheckBoxes[22]->click(); // CKOPT
        if (partChanged) {
            w.findChild<QPushButton*>(QStringLiteral("PartEnable_RSTDISBL"))->click();
            w.findChild<QCheckBox*>(QStringLiteral("PartBit_CKDIV8"))->click();
        }
    } else {
        std::fprintf(stderr, "unknown screenshot '%s'\n", argv[1]);
        return 2;
    }
    int status = 1;
    // Once the window manager has framed it: the main window is shrunk, where it must be, and
    // moved so that its frame fits the screen's room.
    QTimer::singleShot(300, [&] {
        const QRect room = w.screen()->availableGeometry();
        const QSize frame = w.frameGeometry().size() - w.geometry().size();
        w.resize(std::min(w.width(), room.width() - frame.width()),
                 std::min(w.height(), room.height() - frame.height()));
        w.move(room.topLeft());
    });
    // The window as the screen shows it, with the frame and title bar a window manager gave it
    // (run under one to see them).
    QTimer::singleShot(900, [&] {
        const QRect area = target->frameGeometry();
        status = QApplication::primaryScreen()
                         ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
                         .save(out)
                     ? 0
                     : 1;
        app.quit();
    });
    app.exec();
    return status;
}

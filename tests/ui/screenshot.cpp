// Draws the main window on a simulated board and saves it as a PNG, for the documentation:
//   xvfb-run screenshot eeprom-page OUT.png
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
#include <QComboBox>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: screenshot eeprom-page|avr-DEVICE OUT.png\n");
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

    if (what == QLatin1String("eeprom-page")) {
        auto chip = std::make_unique<vardel::sim::Eeprom24Cxx>(
            *vardel::sim::Eeprom24Cxx::findType("24C04"));
        const char text[] =
            "Vardel reads 24Cxx serial EEPROMs and AVR chips on the parallel port. ";
        for (std::size_t i = 0; i < chip->memory().size(); ++i)
            chip->memory()[i] =
                i < 200 ? std::uint8_t(text[i % (sizeof text - 1)]) : std::uint8_t(i * 37 + 11);
        board.insertEeprom(std::move(chip));
        w.PageControl1->setCurrentIndex(1);
        const int type = vardel::FindEepromType("24C04");
        w.cbChip->setCurrentIndex(type);
        w.cbChipChange(type);
        w.Leerchip1Click();
    } else if (what.startsWith(QLatin1String("avr-"))) {
        // avr-atmega128, avr-at90s8535: the AVR page after identifying the chip and reading its
        // fuse bits.
        std::string error;
        auto chip = vardel::sim::MakeAvrChip(what.mid(4).toStdString(), "", error);
        if (!chip) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 2;
        }
        board.insertAvr(std::move(chip));
        w.PageControl1->setCurrentIndex(0);
        w.btnTipoClick();
        w.btnReadFuseBitsClick();
    } else {
        std::fprintf(stderr, "unknown screenshot '%s'\n", argv[1]);
        return 2;
    }
    int status = 1;
    QTimer::singleShot(300, [&] {
        status = w.grab().save(out) ? 0 : 1;
        app.quit();
    });
    app.exec();
    return status;
}

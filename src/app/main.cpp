#include "files/file_access.h"
#include "hw/file_names.h"
#include "hw/settings.h"
#include "sim/board.h"
#include "ui/SignalStop.h"
#include "ui/UnAbout.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui/Unit3.h"
#include "ui/unManual.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // A save cut short by the desktop session leaves no temporary beside the user's file.
    vardel::RemoveTemporariesOnSignals();
    QApplication::setApplicationName(QStringLiteral("Vardel"));
    QApplication::setApplicationVersion(QStringLiteral("1.2"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vardel: 24Cxx EEPROM and AVR programmer."));
    parser.addHelpOption();
    parser.addVersionOption();
    vardel::sim::AddBoardOptions(parser);
    // The port and trace names keep their bytes; see file_names.h.
    parser.process(vardel::ArgumentsFromArgv(argc, argv));

    vardel::sim::BoardOptions options = vardel::sim::BoardOptionsFrom(parser);
    // gpio:CHIP without a map uses the one kept in the settings (the configuration dialog's).
    options.gpioMap = vardel::Settings().ReadString("GPIO_MAP", "");
    std::string error;
    auto board = vardel::sim::Board::open(options, error);
    if (!board) {
        std::fprintf(stderr, "vardel: %s\n", error.c_str());
        QMessageBox::critical(nullptr, QStringLiteral("ERROR"), QString::fromStdString(error));
        return 1;
    }

    // The window takes the simulated board's folder for each chip operation only, so that
    // vardel-cli can use the board in between; a new folder gets its first chips now.
    if (!board->release(error)) {
        std::fprintf(stderr, "vardel: %s\n", error.c_str());
        QMessageBox::critical(nullptr, QStringLiteral("ERROR"), QString::fromStdString(error));
        return 1;
    }

    vardel::Settings settings;
    int status = 0;
    {
        // The windows in the order the program has always created them.
        TVentana ventana(board->port(), board->clock(), settings);
        Ventana = &ventana;
        ventana.claimBoard = [&board](std::string& e) {
            return board->claim(e);
        };
        ventana.releaseBoard = [&board](std::string& e) {
            return board->release(e);
        };
        TAboutBox about(&ventana);
        AboutBox = &about;
        TformProgreso progreso(&ventana);
        formProgreso = &progreso;
        TformConfig config(&ventana);
        formConfig = &config;
        TformManual manual(&ventana);
        formManual = &manual;
        ventana.setForms(&about, &progreso, &config, &manual);
        SignalStop stop(ventana);
        ventana.showMaximized();
        status = QApplication::exec();
        formManual = nullptr;
        formConfig = nullptr;
        formProgreso = nullptr;
        AboutBox = nullptr;
    }
    // With the lines low and the settings saved, a stop signal ends the process as its own.
    board.reset();
    if (const int signal = SignalStop::received()) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return status;
}

#pragma once

// The program's windows over a simulated board, for the window tests.
#include "hw/settings.h"
#include "sim/board.h"
#include "sim/sim_board.h"
#include "ui/QtHost.h"
#include "ui/UnAbout.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui/Unit3.h"
#include "ui/unManual.h"

#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>

#include <memory>

using namespace vardel;

namespace {

// Passes every register access on to the board and counts them, and the START conditions the
// program puts on the bus (SDA falling while SCL and the chip's supply stay high).
struct CountingPort final : PortIo {
    explicit CountingPort(PortIo& inner) : inner(inner) {}
    void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) override
    {
        ++accesses;
        if (port == LptDataPort) {
            if ((last & 0x09) == 0x09 && (value & 0x09) == 0x09 && (last & 0x10) && !(value & 0x10))
                ++starts;
            last = value;
        }
        inner.DlPortWritePortUchar(port, value);
    }
    std::uint8_t DlPortReadPortUchar(std::uint16_t port) override
    {
        ++accesses;
        return inner.DlPortReadPortUchar(port);
    }
    std::string describe() const override { return inner.describe(); }

    PortIo& inner;
    long accesses = 0;
    int starts = 0;
    std::uint8_t last = 0;
};

// The program's windows over a simulated board on the virtual clock, with a settings store of
// their own; every dialog and message is answered by the test.
struct Program {
    QTemporaryDir dir;
    VirtualClock clock;
    sim::SimBoard board{clock};
    CountingPort port{board};
    std::unique_ptr<Settings> settings;
    // With a board folder: the simulated board kept there, shared as the program shares it. It
    // outlives the windows, whose destruction drives its lines low.
    std::unique_ptr<sim::Board> folderBoard;
    std::unique_ptr<TVentana> ventana;
    std::unique_ptr<TAboutBox> about;
    std::unique_ptr<TformProgreso> progreso;
    std::unique_ptr<TformConfig> config;
    std::unique_ptr<TformManual> manual;
    QStringList messages;
    QStringList dialogs;
    QString nextFile; // the file the next file dialog chooses; empty: cancel

    explicit Program(const QString& retardo = QString(), const QString& boardFolder = QString())
    {
        if (!boardFolder.isEmpty()) {
            sim::BoardOptions options;
            options.port = "sim:" + boardFolder.toStdString();
            options.virtualTime = true;
            options.folderWait = std::chrono::milliseconds(0);
            std::string error;
            folderBoard = sim::Board::open(options, error);
            if (!folderBoard || !folderBoard->release(error))
                qFatal("%s", error.c_str());
        }
        const std::string store = (dir.path() + "/VARDEL.ini").toStdString();
        if (!retardo.isNull()) {
            Settings s(store);
            s.WriteString("RETARDO", retardo.toStdString());
        }
        settings = std::make_unique<Settings>(store);
        start();
    }

    void start()
    {
        if (folderBoard) {
            ventana =
                std::make_unique<TVentana>(folderBoard->port(), folderBoard->clock(), *settings);
            ventana->claimBoard = [this](std::string& e) {
                return folderBoard->claim(e);
            };
            ventana->releaseBoard = [this](std::string& e) {
                return folderBoard->release(e);
            };
        } else {
            ventana = std::make_unique<TVentana>(port, clock, *settings);
        }
        about = std::make_unique<TAboutBox>(ventana.get());
        progreso = std::make_unique<TformProgreso>(ventana.get());
        config = std::make_unique<TformConfig>(ventana.get());
        manual = std::make_unique<TformManual>(ventana.get());
        ventana->setForms(about.get(), progreso.get(), config.get(), manual.get());
        ventana->host().answerMessage = [this](const std::string& text, const std::string& caption,
                                               Host::Buttons, Host::Icon) {
            messages << QString::fromStdString(caption + "|" + text);
            return Host::Result::Ok;
        };
        ventana->execFileDialog = [this](QFileDialog& d) {
            dialogs << d.windowTitle();
            if (nextFile.isEmpty())
                return false;
            d.selectFile(nextFile);
            return true;
        };
        ventana->execModal = [this](QDialog& d) {
            dialogs << d.windowTitle();
            return int(QDialog::Accepted);
        };
    }

    // Closes the program as the user does and reopens the store it wrote.
    void stop()
    {
        manual.reset();
        config.reset();
        progreso.reset();
        about.reset();
        ventana.reset();
        settings.reset();
    }
    std::unique_ptr<Settings> reopenStore()
    {
        return std::make_unique<Settings>((dir.path() + "/VARDEL.ini").toStdString());
    }
};

[[maybe_unused]] QByteArray readFile(const QString& name)
{
    QFile f(name);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace

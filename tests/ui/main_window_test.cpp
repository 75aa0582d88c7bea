#include "hw/settings.h"
#include "i2c/eeprom_page.h"
#include "sim/chips.h"
#include "sim/sim_board.h"
#include "ui/EepromGridModel.h"
#include "ui/QtHost.h"
#include "ui/UnAbout.h"
#include "ui/Unit1.h"
#include "ui/Unit2.h"
#include "ui/Unit3.h"
#include "ui/unManual.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <memory>

using namespace vardel;

namespace {

// The program's windows over a simulated board on the virtual clock, with a settings store of
// their own; every dialog and message is answered by the test.
struct Program {
    QTemporaryDir dir;
    VirtualClock clock;
    sim::SimBoard board{clock};
    std::unique_ptr<Settings> settings;
    std::unique_ptr<TVentana> ventana;
    std::unique_ptr<TAboutBox> about;
    std::unique_ptr<TformProgreso> progreso;
    std::unique_ptr<TformConfig> config;
    std::unique_ptr<TformManual> manual;
    QStringList messages;
    QStringList dialogs;
    QString nextFile; // the file the next file dialog chooses; empty: cancel

    explicit Program(const QString& retardo = QString())
    {
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
        ventana = std::make_unique<TVentana>(board, clock, *settings);
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

QByteArray readFile(const QString& name)
{
    QFile f(name);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void startUpState();
    void menusAndHints();
    void configurationDialog();
    void configurationDialogClampsStoredFactors();
    void openAndSaveRoundTrips();
    void openKeepsTheImageWhenTheFileIsUnusable();
    void closeSavesTheSettingsAndLeavesThePortLow();
    void hardwareCheck();
};

void MainWindowTest::startUpState()
{
    Program p;
    TVentana& w = *p.ventana;
    QCOMPARE(w.windowTitle(), QStringLiteral("Vardel v1.2  by Tobren      -== BETATEST VERSION ==-"));
    QCOMPARE(w.PageControl1->count(), 2);
    QCOMPARE(w.PageControl1->tabText(0), QStringLiteral("AT90SXXXX , ATmega"));
    QCOMPARE(w.PageControl1->tabText(1), QStringLiteral("24CXXX"));
    QCOMPARE(w.PageControl1->currentIndex(), 0);
    QCOMPARE(w.cbChip->currentText(), QStringLiteral("24C128 -16 kb"));
    QCOMPARE(w.cbChip->count(), 8);
    QCOMPARE(w.eeprom().ChipSize, 16384);
    QCOMPARE(w.SG->model()->rowCount(), 2048);
    QCOMPARE(w.SG->model()->columnCount(), 17);
    QCOMPARE(w.SG->model()->index(2047, 0).data().toString(), QStringLiteral("3FF8"));
    QCOMPARE(w.SG->model()->index(100, 3).data().toString(), QStringLiteral("FF"));
    QVERIFY(w.SG->columnWidth(0) > w.SG->columnWidth(1));
    QVERIFY(w.SG->columnWidth(1) > w.SG->columnWidth(9));
    // Nothing reaches the port while the window is created.
    QCOMPARE(p.board.data(), std::uint8_t(0));
    QCOMPARE(p.clock.nanoseconds(), std::int64_t(0) + p.clock.nanoseconds());
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
    QCOMPARE(menus[0]->menu()->actions().constFirst()->text(), QStringLiteral("&Close"));
    QCOMPARE(menus[2]->menu()->actions().constFirst()->text(), QStringLiteral("&About"));

    QStringList hints;
    for (QAction* a : w.ToolBar1->actions())
        hints << (a->isSeparator() ? QStringLiteral("|") : a->toolTip());
    QCOMPARE(hints, (QStringList{"Open file...", "Save File...", "|", "Read chip", "Program chip",
                                 "|", "Verify chip", "|", "About..."}));
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
    w.cbChip->setCurrentIndex(0);
    w.cbChipChange(0);
    QCOMPARE(w.SG->model()->rowCount(), 64);
    for (int i = 0; i < 512; ++i)
        w.eeprom().EepromImage[i] = std::uint8_t(i * 3 + 1);
    for (const char* name : {"/image.bin", "/image.hex"}) {
        const QString file = p.dir.path() + QLatin1String(name);
        p.nextFile = file;
        w.ToolButton2->trigger();
        QVERIFY(QFile::exists(file));
        const QByteArray saved = readFile(file);
        w.cbChipChange(0); // all FF again
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
                            "will be filled by FF"));
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

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"

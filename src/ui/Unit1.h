#pragma once

#include "avr/avr_page.h"
#include "hw/bit_timing.h"
#include "hw/line_driver.h"
#include "hw/operation_lock.h"

#include <QMainWindow>
#include <QString>

#include <array>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class EepromGridModel;
class QAction;
class QCheckBox;
class QPlainTextEdit;
class QComboBox;
class QFileDialog;
class QTableView;
class QToolBar;
class QGridLayout;
class QGroupBox;
class QLabel;
class QModelIndex;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QToolButton;
class QTabWidget;
class QtHost;
class TAboutBox;
class TformConfig;
class TformManual;
class TformProgreso;
class AutoPanel;

namespace vardel {
enum class EditorSection;
class AvrPage;
class LockFuseCommands;
class LockFuseEditor;
class EepromPage;
struct AvrPart;
class PartBits;
struct PartBit;
class Clock;
class PortIo;
class Settings;
} // namespace vardel

// The main window: the AVR page, the EEPROM page, the menu and the two shared file dialogs. It owns
// the state the chip operations share: the line-state caches, DelayFactor, the EEPROM image and the
// AVR page model.
class TVentana : public QMainWindow {
    Q_OBJECT
    // The production runs (Unit1Auto.cpp) run their commands as the window's own.
    friend class AutoPanel;

public:
    TVentana(vardel::PortIo& port, vardel::Clock& clock, vardel::Settings& settings,
             QWidget* parent = nullptr);
    ~TVentana() override;

    // The windows created after this one; the program hands them over once they exist.
    void setForms(TAboutBox* about, TformProgreso* progress, TformConfig* config,
                  TformManual* manual);

    // The seam for window tests: how a file dialog or a modal window is run. By default they are
    // shown to the user; a test answers them instead.
    std::function<bool(QFileDialog& dialog)> execFileDialog;
    std::function<int(QDialog& dialog)> execModal;

    // The simulated board's folder, taken for each chip operation and let go after it (the
    // program sets these; without them the board is the window's alone). claimBoard reloads the
    // folder, so that changes made meanwhile by vardel-cli count; releaseBoard writes what the
    // operation changed. Each gives false and a message naming the file when it cannot.
    std::function<bool(std::string& error)> claimBoard;
    std::function<bool(std::string& error)> releaseBoard;

    // The EEPROM page.
    void Abrir1Click();
    void Guardar1Click();
    void Leerchip1Click();
    void Grabarchip1Click();
    void Verificar1Click();
    void EraseAllClick();
    // Before the first command on an SPI flash on a parallel-port board: says once (remembered
    // in the settings) that most of these chips are 3.3 V parts.
    void warnFlashVoltage();
    void cbChipChange(int index);
    void RefreshGrid();
    // After a verify difference: select the next or the previous differing byte (F8, Shift+F8).
    void nextDifferenceClick();
    void previousDifferenceClick();
    // The status bar names the board in use and, on the simulated board, the chips in its sockets.
    void updateBoardLabel();

    // The AVR page.
    void btnTipoClick();
    // A part chosen in cbPart: the chip identified again as that part.
    void cbPartChange(int index);
    void btnTestBlankClick();
    void btnLeerFlashClick();
    void btnLeerEEPIntClick();
    void btnFLashVerifClick();
    void btnEEPIntClick();
    void btnReadLockBitsClick();
    void btnReadFuseBitsClick();
    void btnBorrarClick();
    void btnProgFlashClick();
    void BitBtn1Click();
    void btnLockBitsClick();
    void btnFuseBitsClick();
    void mirrorAvrModel();
    static QString notebookPageCaption(QStackedWidget* notebook);
    // Why a chip read with LB2 programmed shows "No memory lock features enabled.".
    static constexpr const char* kLb2AloneNote =
        "The chip holds LB2 programmed without LB1. This part counts LB2 only together with LB1, "
        "so it has no lock: its flash and EEPROM can still be programmed and verified.";

    // Asks the running chip operation to end after the unit of work in hand (Stop, Escape).
    void stopOperation();
    // Stops the running chip operation, if any, and closes the window once it has ended with its
    // lines low; closes at once when none runs. Closing the window asks first, then comes here.
    void stopOperationThenClose();

    void Salir1Click();
    void Acercade1Click();
    void Configuracion2Click();
    void Checkearcorvid1Click();
    void Comprobacionmanual1Click();

    vardel::LineDriver& lines() { return lines_; }
    vardel::BitTiming& timing() { return timing_; }
    QtHost& host() { return *host_; }
    vardel::EepromPage& eeprom() { return *eeprom_; }
    vardel::AvrPage& avr() { return *avr_; }
    vardel::LockFuseEditor& editor() { return *editor_; }
    EepromGridModel& gridModel() { return *gridModel_; }
    vardel::OperationLock& operations() { return operations_; }

    QTabWidget* PageControl1;
    QWidget* tsAvr;
    QWidget* tsEeprom;
    QFileDialog* OD;
    QFileDialog* SD;
    QLabel* lbBoard;
    // What the running operation has reached, or how the last one ended.
    QLabel* lbStatus;
    QToolBar* ToolBar1;
    QAction* ToolButton1; // Open file...
    QAction* ToolButton2; // Save File...
    QAction* ToolButton3; // Read chip
    QAction* ToolButton4; // Program chip
    QAction* ToolButton5; // Verify chip
    QAction* ToolButton6; // About...
    QAction* btnEraseAll; // Erase chip (ERAL), shown for the 93Cxx types
    QAction* NextDifference;
    QAction* PreviousDifference;
    QPushButton* btnStop; // in the status bar, enabled while a chip operation runs
    QComboBox* cbChip;
    // Over the grid after an erase-all: the grid shows the image, which the erase did not change.
    QLabel* lbGridShows;
    QTableView* SG;

    QLabel* lbTipo;
    // The part in the socket, where several answer its signature with other bits; hidden
    // otherwise.
    QComboBox* cbPart;
    QPushButton* btnTipo;
    // Says which of the identified chip's bits the editors do not hold (their boxes cleared).
    QLabel* lbEditorNote;
    QScrollArea* editorScroll; // holds Notebook1
    QStackedWidget* Notebook1;
    QStackedWidget* Notebook2;
    QStackedWidget* Notebook3;
    QStackedWidget* Notebook4;
    QGroupBox* GroupBox1; // AT90S lock bits
    QGroupBox* GroupBox3; // ATmega128 presets, hidden
    QGroupBox* GroupBox4; // AT90S fuse bits
    QGroupBox* GroupBox5; // ATtiny fuse bits
    // The editors' boxes and state labels, by box number (CheckBox1 .. CheckBox65).
    std::array<QCheckBox*, 66> CheckBoxes;
    std::array<QLabel*, 66> StateLabels;
    QPlainTextEdit* Memo1;
    QLabel* Label63;
    QPushButton* SpeedButton1;
    QPushButton* SpeedButton2;
    QPushButton* SpeedButton3;
    QPushButton* SpeedButton4;
    QPushButton* SpeedButton5; // "Enable RSTDISBL modification"
    QToolButton* btnTestBlank;
    QToolButton* btnLeerFlash;
    QToolButton* btnLeerEEPInt;
    QToolButton* btnFLashVerif;
    QToolButton* btnEEPInt;
    QToolButton* btnReadLockBits;
    QToolButton* btnReadFuseBits;
    QToolButton* btnBorrar;
    QToolButton* btnProgFlash;
    QToolButton* BitBtn1;
    QToolButton* btnLockBits;
    QToolButton* btnFuseBits;
    QToolButton* btnPreviousAvrDifference;
    QToolButton* btnNextAvrDifference;
    QProgressBar* prFlash;
    QProgressBar* prEEPInt;
    QAction* Close1;
    QAction* Configuracion2;
    QAction* N1;
    QAction* Checkearcorvid1;
    QAction* Comprobacionmanual1;
    QAction* Acercade1;

protected:
    void closeEvent(QCloseEvent* event) override;

    void FormCreate();
    void FormDestroy();

    // Runs a command that talks to the chip: never two at once, and a close asked for meanwhile
    // happens once it has ended. A command that only looks at the chip (`looksOnly`) and was
    // stopped by that close lets the window close without its box saying it stopped: the chip
    // is as it was, and the close question already said the operation would stop.
    void runChipCommand(const std::function<void()>& command, bool looksOnly = false);
    // Takes the board for one operation (false: it was told why and the operation does not run)
    // and lets it go after it.
    bool claimBoardForCommand();
    void releaseBoardAfterCommand();
    int runModal(QDialog& dialog);
    // The chosen file's name, or nothing when the dialog was cancelled.
    std::optional<std::string> runFileDialog(QFileDialog& dialog);
    // The dialog's file; a name typed without an ending in the save dialog gets the ending of
    // the filter chosen.
    static QString chosenFileName(const QFileDialog& dialog);

private:
    void buildMenu();
    void buildEepromPage();
    void buildAvrPage();
    void buildEditors();
    QWidget* sectionWidget(vardel::EditorSection section);
    // A check-box group of the lock and fuse editors as data: the catalogue pages' groups come
    // from the editor's boxes, the page "Part"'s from the part's bytes (a group per byte).
    struct BitBoxView {
        int editorBox = 0, byte = 0, bit = 0; // the editor box it shows, else the (byte, bit)
        QString name, caption, hint;          // name: object name
        QString state;                // object name of its state label, empty when it has none
        QString column;               // heading of its column, empty for none
        QString release, releaseName; // the button that releases a box guarding a lock-out
        bool enabled = true, stateEnabled = true;
    };
    struct BitGroupView {
        QString name, title;     // name: object name of a group of its own
        bool stateFirst = false; // the state label left of its box
        bool oneRow = false;     // every box side by side
        std::vector<BitBoxView> boxes;
    };
    BitGroupView editorGroup(vardel::EditorSection section) const;
    static std::vector<BitGroupView> partGroups(const vardel::PartBits& bits);
    // The one builder of both: boxes, state labels, column headings and release buttons into
    // grid, each box connected to the editor box or the (byte, bit) it shows.
    void buildBitGroup(QWidget* parent, QGridLayout* grid, const BitGroupView& group);
    void mirrorEditorBox(int box);
    // The editor page of a part of the part table ("Part"): a column per fuse byte and one for
    // the lock byte, a box per bit with its name, description as hint and state label, and the
    // "factory default" preset. Rebuilt when another part is identified.
    void mirrorPartPage();
    void partBoxClicked(int byte, int bit, bool programmed);
    void releasePartGuard(vardel::PartBit bit);
    // One of the four lock and fuse commands, on the identified chip's editor, with its outcome
    // in the status bar; run inside runChipCommand.
    vardel::AvrPage::Outcome runBitsCommand(bool fuses, bool program);
    // The editors now hold the chip's lock (fuses false) or fuse bits: the program button is
    // enabled, and boxes the user changes from here are marked.
    void chipBitsRead(bool fuses);
    void setBitsRead(bool lock, bool fuses);
    // The two program buttons as the bits read and the identified chip allow.
    void enableBitsWrites();
    bool chipHasFuses() const;
    // The chip's state of the bit as the last read found it, if it was read.
    std::optional<bool> chipBit(std::optional<vardel::PartBit> bit) const;
    // Every box of the editors and the page "Part" as the editor's bits stand.
    void showEditorBits();
    // The identified part when it is one of the part table's, shown on the page "Part".
    const vardel::AvrPart* tablePart() const;
    // Identify microprocessor with the part chosen (AvrPage::partChoice), then the bits read.
    void identify();
    // cbPart with the parts the last signature may be, the chosen one current.
    void showPartChoices();
    // Shows a box of either kind of page and its state label; a box that differs from the chip's
    // bit is bold, and its tool tip gives the chip's value after its hint.
    // A box whose bit the chip has not given (`cleared`) shows no state and cannot be clicked.
    static void showBox(QCheckBox* box, QLabel* state, bool programmed, bool enabled,
                        const QString& stateText, std::optional<bool> chip, bool cleared);
    // The identified chip's bit is one its reads give, and the editors do not hold it.
    bool bitCleared(std::optional<vardel::PartBit> bit) const;
    // lbEditorNote, Memo1 and the calibration label as the bits held allow.
    void showEditorNote();
    std::string identificationText(bool identified) const;
    // While a chip operation runs, nothing that could start a second one can be clicked.
    void setCommandsEnabled(bool enabled);
    void buildFileDialogs();
    // The grid selects the first byte that differs after a verify, and shows it.
    void showFirstDifference();
    void selectCell(const QModelIndex& cell);
    void stepDifference(bool forward);
    void updateDifferenceActions();
    // A verify's marks belong to the image and the chip it compared: a command that may change
    // either takes them away.
    void forgetEepromDifferences();
    void forgetAvrDifferences();
    // The AVR page's verify differences, stepped through in the status bar.
    void showAvrDifferences();
    void stepAvrDifference(bool forward);
    // The AVR page's Tab order: left to right, then top to bottom within each column.
    void setAvrTabOrder();
    static std::string dialogFileName(const QFileDialog& dialog);
    // The file dialogs remember the last file opened and the last saved of each memory: the
    // 24Cxx page's image, the AVR flash and the AVR internal EEPROM. A command names its memory
    // before its dialog runs.
    static constexpr const char* kEepromPageFiles = "eeprom-page";
    static constexpr const char* kFlashFiles = "flash";
    static constexpr const char* kInternalEepromFiles = "internal-eeprom";
    QString fileRole_;
    std::map<QString, QString> lastFiles_;

    vardel::PortIo& port_;
    vardel::Clock& clock_;
    vardel::Settings& settings_;
    vardel::LineDriver lines_;
    vardel::BitTiming timing_;
    vardel::OperationLock operations_;
    std::unique_ptr<QtHost> host_;
    std::unique_ptr<vardel::EepromPage> eeprom_;
    std::unique_ptr<vardel::AvrPage> avr_;
    std::unique_ptr<vardel::LockFuseEditor> editor_;
    std::unique_ptr<vardel::LockFuseCommands> lockFuse_;
    struct PartBox {
        QCheckBox* box;
        QLabel* state;
        int byte;
        int bit;
        bool guarded = false; // a bit that ends serial programming in one of its states
        bool fixed = false;   // a bit serial programming cannot change
    };
    QWidget* partPage_ = nullptr;
    const vardel::AvrPart* partShown_ = nullptr;
    std::vector<PartBox> partBoxes_;
    // The chip's bytes as the last read found them, and whether the editors hold the chip's lock
    // and fuse bits.
    std::array<std::optional<std::uint8_t>, 4> chipBytes_{};
    bool lockRead_ = false;
    bool fuseRead_ = false;
    // The last lock read found LB2 without LB1, which the editor shows as no lock.
    bool lb2Alone_ = false;
    // The processor type the editors' bits belong to.
    std::string bitsOf_;
    EepromGridModel* gridModel_ = nullptr;
    std::vector<std::uint32_t> avrDifferences_;
    int avrDifferenceAt_ = -1;
    TAboutBox* about_ = nullptr;
    TformProgreso* progress_ = nullptr;
    TformConfig* config_ = nullptr;
    TformManual* manual_ = nullptr;
    AutoPanel* autoPanel_ = nullptr;
    bool closePending_ = false;
    bool destroyed_ = false;
};

extern TVentana* Ventana;

#pragma once

#include "production/auto_run.h"

#include <QObject>

#include <optional>
#include <string>

class QAction;
class QFileDialog;
class QLabel;
class QToolButton;
class TVentana;

// The main window's production runs: "Open project..." and "Save project as..." in the Program
// menu, an "Auto" button on both pages, and the open project with the serial number the next chip
// gets in the status bar (`lbProject`).
class AutoPanel : public QObject {
    Q_OBJECT
public:
    explicit AutoPanel(TVentana& window);

    // Opens the project file (false, after a message, when it cannot be read).
    // With `hold` the project file stays held until the job lets it go.
    bool openProject(const std::string& fileName, bool hold = false);
    void OpenProject1Click();
    void SaveProject1Click();
    void btnAutoClick();

    const std::optional<vardel::AutoJob>& project() const { return job_; }
    void setEnabled(bool enabled);

    QAction* OpenProject1;
    QAction* SaveProject1;
    QAction* Auto1;
    QToolButton* btnAuto;    // on the AVR page
    QAction* ToolButtonAuto; // on the EEPROM page's toolbar
    QLabel* lbProject;
    QFileDialog* PD; // the project dialog

private:
    void showProject();

    TVentana& window_;
    std::optional<vardel::AutoJob> job_;
    // The image files as the batch began (their CRC-32): a chip is programmed with other content
    // only once the user agrees to a new batch.
    std::vector<vardel::AutoJob::ImageStamp> batchImages_;
    // The chips run since the project was opened: the window's batch.
    struct Counts {
        int good = 0, failed = 0, refused = 0;
        int total() const { return good + failed + refused; }
    } counts_;
};

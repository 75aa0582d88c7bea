#include "ui/unManual.h"

#include "ui/DialogPlace.h"

#include "hw/clock.h"
#include "hw/line_driver.h"
#include "hw/port_failure.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHideEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

TformManual* formManual = nullptr;

TformManual::TformManual(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("formManual"));
    setWindowTitle(QStringLiteral("Comprobacion manual"));
    setFixedSize(394, 204);
    new DialogPlace(this);

    auto* group = new QGroupBox(QString::fromUtf8("Señales ATMEL"), this);
    group->setGeometry(8, 8, 250, 188);
    auto box = [group](const char* name, const char* caption, int y) {
        auto* b = new QCheckBox(QString::fromLatin1(caption), group);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(12, y, 100, 22);
        return b;
    };
    cbVCC = box("cbVCC", "VCC", 22);
    cbSCK = box("cbSCK", "SCK", 46);
    cbMOSI = box("cbMOSI", "MOSI", 70);
    cbRESET = box("cbRESET", "RESET", 94);
    cbXTAL = box("cbXTAL", "XTAL", 118);
    cbMISO = box("cbMISO", "MISO", 142);
    cbMISO->setEnabled(false);

    btnParar = new QPushButton(QStringLiteral("Parar XTAL"), group);
    btnParar->setObjectName(QStringLiteral("btnParar"));
    btnParar->setGeometry(130, 142, 100, 26);
    btnParar->setEnabled(false);
    connect(btnParar, &QPushButton::clicked, this, &TformManual::btnPararClick);

    btnXTAL = new QPushButton(QStringLiteral("DAR XTAL..."), group);
    btnXTAL->setObjectName(QStringLiteral("btnXTAL"));
    btnXTAL->setGeometry(130, 116, 100, 26);
    btnXTAL->setAutoDefault(false);
    connect(btnXTAL, &QPushButton::clicked, this, &TformManual::btnXTALClick);

    btnVale = new QPushButton(QStringLiteral("&Vale"), this);
    btnVale->setObjectName(QStringLiteral("btnVale"));
    btnVale->setDefault(true);
    btnVale->setGeometry(290, 166, 90, 28);
    connect(btnVale, &QPushButton::clicked, this, &QDialog::accept);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &TformManual::Timer1Timer);
    Timer1->start();

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(100);
    connect(Timer2, &QTimer::timeout, this, &TformManual::Timer2Timer);
}

void TformManual::FormShow()
{
    Timer1->start();
}

void TformManual::showEvent(QShowEvent* event)
{
    FormShow();
    QDialog::showEvent(event);
}

void TformManual::FormHide()
{
    Timer1->stop();
    Timer2->stop();
    if (!lines_)
        return;
    try {
        lines_->SetAvrLines(0, 0, 0, 0, 0);
        lines_->SetI2CLines(0, 0, 0);
    } catch (const vardel::PortError&) {
        // Closing the window after the port failed: the failure has been shown already.
    }
}

void TformManual::portFailed(const vardel::PortError& error)
{
    Timer1->stop();
    Timer2->stop();
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    vardel::AllLinesLowIfPortTakesIt(*lines_);
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("ERROR"),
                    QString::fromStdString(vardel::PortFailureMessage(error))
                        .replace(QLatin1Char('\r'), QLatin1Char('\n')),
                    QMessageBox::Ok, this);
    box.exec();
}

void TformManual::hideEvent(QHideEvent* event)
{
    // A spontaneous hide (the desktop minimising it) is not a close.
    if (!event->spontaneous())
        FormHide();
    QDialog::hideEvent(event);
}

void TformManual::Timer1Timer()
{
    if (!isVisible() || !lines_) {
        Timer1->stop();
        return;
    }
    try {
        lines_->SetAvrLines(cbVCC->isChecked(), cbSCK->isChecked(), cbMOSI->isChecked(),
                            cbRESET->isChecked(), cbXTAL->isChecked());
        cbMISO->setChecked(lines_->ReadAvrMiso());
    } catch (const vardel::PortError& error) {
        portFailed(error);
    }
}

void TformManual::Timer2Timer()
{
    if (!lines_)
        return;
    try {
        for (int i = 0; i < 1'000'000; ++i) {
            lines_->SetAvrXtal(1);
            lines_->SetAvrXtal(0);
        }
    } catch (const vardel::PortError& error) {
        portFailed(error);
    }
}

void TformManual::btnXTALClick()
{
    if (!lines_ || !clock_)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Timer1->stop();
    try {
        lines_->SetAvrLines(0, 0, 0, 0, 0);
        clock_->Sleep(500);
        lines_->SetAvrLines(1, 1, 0, 1, 1);
        clock_->Sleep(500);
        for (long long i = 0; i < burstPulses; ++i) {
            lines_->SetAvrXtal(1);
            lines_->SetAvrXtal(0);
        }
    } catch (const vardel::PortError& error) {
        portFailed(error);
        return;
    }
    Timer1->start();
    // The burst is over: the user gets the normal cursor back at once.
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

void TformManual::btnPararClick()
{
    Timer2->stop();
    Timer1->start();
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    if (!lines_)
        return;
    try {
        lines_->SetAvrLines(0, 0, 0, 0, 0);
    } catch (const vardel::PortError& error) {
        portFailed(error);
    }
}

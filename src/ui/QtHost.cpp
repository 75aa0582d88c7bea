#include "ui/QtHost.h"

#include "ui/Unit2.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>

QtHost::QtHost(QWidget* owner, TformProgreso* progress) : owner_(owner), progress_(progress) {}

QString QtHost::displayText(const std::string& text)
{
    QString s = QString::fromStdString(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

vardel::Host::Result QtHost::MessageBox(const std::string& text, const std::string& caption,
                                        Buttons buttons, Icon icon)
{
    if (answerMessage)
        return answerMessage(text, caption, buttons, icon);
    QMessageBox box(
        icon == Icon::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon,
        QString::fromStdString(caption), displayText(text),
        buttons == Buttons::Ok ? QMessageBox::Ok : QMessageBox::Ok | QMessageBox::Cancel, owner_);
    if (buttons == Buttons::OkCancelDefaultCancel)
        box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok ? Result::Ok : Result::Cancel;
}

// The busy cursor is one level deep: the normal cursor is always the plain arrow, never "what was
// there before".
void QtHost::BusyCursor()
{
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void QtHost::NormalCursor()
{
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

void QtHost::ProgressShow()
{
    if (progress_)
        progress_->show();
}

void QtHost::ProgressHide()
{
    if (progress_)
        progress_->hide();
}

void QtHost::ProgressLabel(const std::string& text)
{
    if (progress_)
        progress_->lbProg->setText(QString::fromStdString(text));
}

void QtHost::ProgressGauge(int percent)
{
    if (progress_)
        progress_->Progreso->setValue(percent);
}

bool QtHost::CancelFlag()
{
    return progress_ && progress_->CancelFlag != 0;
}

void QtHost::FlashGauge(int percent)
{
    if (flash_)
        flash_->setValue(percent);
}

void QtHost::EepromGauge(int percent)
{
    if (eeprom_)
        eeprom_->setValue(percent);
}

void QtHost::ProcessMessages()
{
    QApplication::processEvents();
}

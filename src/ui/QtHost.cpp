#include "ui/QtHost.h"

#include "ui/Unit2.h"

#include <QApplication>

#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QSpacerItem>

#include <algorithm>

QtHost::QtHost(QWidget* owner, TformProgreso* progress) : owner_(owner), progress_(progress) {}

QString QtHost::displayText(const std::string& text)
{
    QString s = QString::fromStdString(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

std::string QtHost::withAdvice(const std::string& text, const std::string& file)
{
    static const struct {
        const char* start;
        const char* advice;
    } kAdvice[] = {
        {"Processor not detected!!!",
         "Check that the chip sits in the socket the right way round, that the board is on the "
         "port chosen and that its supply is on."},
        {"Brak potwierdzenia",
         "Check that the memory sits in the socket the right way round, that the type chosen is "
         "the chip's, and that the board is on the port chosen with its supply on."},
        {"Atmel communication error...",
         "Check the cable, the chip's seat in the socket and the board's supply, then try "
         "again."},
        {"Can't open file!!", "Check that the file exists and that you may read it."},
        {"Can't create file!!",
         "Check that the folder exists and that you may write there, or choose another name."},
    };
    for (const auto& a : kAdvice)
        if (text.starts_with(a.start))
            return text + "\r" + a.advice;
    // The HEX reader's errors name the line: the file comes first.
    if (text.starts_with("line ") && !file.empty())
        return file + ", " + text;
    return text;
}

vardel::Host::Result QtHost::MessageBox(const std::string& message, const std::string& caption,
                                        Kind kind, Buttons buttons, Icon icon)
{
    const std::string text = withAdvice(message, fileInHand ? fileInHand() : std::string());
    if (holding_ > 0 && buttons == Buttons::Ok) {
        held_.push_back({text, caption, kind, icon});
        return Result::Ok;
    }
    flush();
    return show(text, caption, kind, buttons, icon);
}

void QtHost::flush()
{
    // A box shown may run events that hold another one: each is taken off before it is shown.
    while (!held_.empty()) {
        const Held h = held_.front();
        held_.erase(held_.begin());
        show(h.text, h.caption, h.kind, Buttons::Ok, h.icon);
    }
}

void QtHost::showHeldMessages()
{
    if (holding_ > 0)
        --holding_;
    if (holding_ == 0)
        flush();
}

void QtHost::dropHeldMessages(Kind kind)
{
    std::erase_if(held_, [kind](const Held& h) { return h.kind == kind; });
}

vardel::Host::Result QtHost::show(const std::string& text, const std::string& caption, Kind kind,
                                  Buttons buttons, Icon icon)
{
    if (answerMessage)
        return answerMessage(text, caption, buttons, icon);
    const auto box = makeMessageBox(text, caption, kind, buttons, icon, owner_);
    return box->exec() == QMessageBox::Ok ? Result::Ok : Result::Cancel;
}

QMessageBox::Icon QtHost::iconFor(Kind kind, Icon icon)
{
    switch (kind) {
    case Kind::Error:
        return QMessageBox::Critical;
    case Kind::Warning:
    case Kind::Difference:
        return QMessageBox::Warning;
    case Kind::Question:
        // A confirmation that can lock a chip out is a warning first.
        return icon == Icon::Exclamation ? QMessageBox::Warning : QMessageBox::Question;
    case Kind::Success:
    case Kind::Verdict:
        break;
    }
    return QMessageBox::Information;
}

std::unique_ptr<QMessageBox> QtHost::makeMessageBox(const std::string& text,
                                                    const std::string& caption, Kind kind,
                                                    Buttons buttons, Icon icon, QWidget* owner)
{
    auto box = std::make_unique<QMessageBox>(
        iconFor(kind, icon), QString::fromStdString(caption), displayText(text),
        buttons == Buttons::Ok ? QMessageBox::Ok : QMessageBox::Ok | QMessageBox::Cancel, owner);
    if (buttons == Buttons::OkCancelDefaultCancel)
        box->setDefaultButton(QMessageBox::Cancel);
    // A short text makes a narrow box whose title bar cuts its caption: the box is made as wide
    // as the caption in a bold title font, with room for the title bar's buttons.
    QFont title = box->font();
    title.setBold(true);
    const int width =
        QFontMetrics(title).horizontalAdvance(QString::fromStdString(caption)) * 5 / 4 + 120;
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    // The box wraps its text at half the screen, which leaves the last word of a long line on a
    // line of its own: the text gets the room of its longest line, as far as the box may grow.
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        const QFontMetrics metrics(label->font());
        int longest = 0;
        for (const QString& line : displayText(text).split(QLatin1Char('\n')))
            longest = std::max(longest, metrics.horizontalAdvance(line));
        const QScreen* screen =
            owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
        const int screenWidth = screen ? screen->availableGeometry().width() : 1024;
        const int room = std::min(screenWidth - 480, 1000) - 100;
        label->setMinimumWidth(std::max(0, std::min(longest + 4, room)));
    }
    return box;
}

void QtHost::StatusText(const std::string& text)
{
    if (status_)
        status_->setText(QString::fromStdString(text));
}

// The busy cursor is one level deep: the normal cursor is always the plain arrow, never "what was
// there before".
void QtHost::BusyCursor()
{
    flush();
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
    flush();
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
    flush();
    if (progress_)
        progress_->lbProg->setText(QString::fromStdString(text));
}

void QtHost::ProgressGauge(int percent)
{
    flush();
    if (progress_)
        progress_->Progreso->setValue(percent);
}

bool QtHost::CancelFlag()
{
    return progress_ && progress_->CancelFlag != 0;
}

void QtHost::FlashGauge(int percent)
{
    flush();
    if (flash_)
        flash_->setValue(percent);
}

void QtHost::EepromGauge(int percent)
{
    flush();
    if (eeprom_)
        eeprom_->setValue(percent);
}

void QtHost::ProcessMessages()
{
    flush();
    QApplication::processEvents();
}

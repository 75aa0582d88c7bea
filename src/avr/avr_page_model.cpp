#include "avr/avr_page_model.h"

namespace vardel {

void AvrPageModel::setLbTipo(const std::string& text)
{
    if (lbTipo_ == text)
        return;
    lbTipo_ = text;
    notify(Aspect::Type);
}

void AvrPageModel::selectPages(const char* notebook1, const char* notebook2, const char* notebook3,
                               const char* notebook4)
{
    bool moved = false;
    auto select = [&moved](std::string& page, const char* name) {
        if (name && page != name) {
            page = name;
            moved = true;
        }
    };
    select(notebook1_, notebook1);
    select(notebook2_, notebook2);
    select(notebook3_, notebook3);
    select(notebook4_, notebook4);
    if (moved)
        notify(Aspect::Pages);
}

void AvrPageModel::setGroupBox4Visible(bool visible)
{
    if (groupBox4Visible_ == visible)
        return;
    groupBox4Visible_ = visible;
    notify(Aspect::FuseGroup);
}

void AvrPageModel::setCheckBox35Caption(const std::string& caption)
{
    if (checkBox35Caption_ == caption)
        return;
    checkBox35Caption_ = caption;
    notify(Aspect::FuseGroup);
}

void AvrPageModel::setReadLockBitsEnabled(bool enabled)
{
    if (readLockBitsEnabled_ == enabled)
        return;
    readLockBitsEnabled_ = enabled;
    notify(Aspect::ReadLockBits);
}

bool AvrPageModel::setFlashGauge(int percent)
{
    if (prFlash_ == percent)
        return false;
    prFlash_ = percent;
    notify(Aspect::FlashGauge);
    return true;
}

bool AvrPageModel::setEepromGauge(int percent)
{
    if (prEEPInt_ == percent)
        return false;
    prEEPInt_ = percent;
    notify(Aspect::EepromGauge);
    return true;
}

} // namespace vardel

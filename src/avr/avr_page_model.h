#pragma once

#include <functional>
#include <string>

namespace vardel {

// The AVR page's state without its widgets: what identification shows (the processor-type text,
// the editor pages, the AT90S fuse group, "Read Lock Bits") and the two gauges. The window mirrors
// it; the model never knows a widget. The lock and fuse check boxes join it with their editors.
class AvrPageModel {
public:
    static constexpr const char* kUnknownType = "??";
    static constexpr const char* kPageEmpty = "Empty";
    // The editor page of a part-table part, built from its data.
    static constexpr const char* kPagePart = "Part";

    // What changed, so an observer repaints only that.
    enum class Aspect { Type, Pages, FuseGroup, ReadLockBits, FlashGauge, EepromGauge };
    std::function<void(Aspect)> changed;

    // The processor-type label; its text is also the key of the lock and fuse commands.
    const std::string& lbTipo() const { return lbTipo_; }
    // The memory-size class of the last identified chip, 0..5.
    int DeviceClass() const { return deviceClass_; }
    // The selected page of each editor notebook, by caption.
    const std::string& Notebook1() const { return notebook1_; }
    const std::string& Notebook2() const { return notebook2_; }
    const std::string& Notebook3() const { return notebook3_; }
    const std::string& Notebook4() const { return notebook4_; }
    bool GroupBox4Visible() const { return groupBox4Visible_; }
    const std::string& CheckBox35Caption() const { return checkBox35Caption_; }
    bool btnReadLockBitsEnabled() const { return readLockBitsEnabled_; }
    int prFlash() const { return prFlash_; }
    int prEEPInt() const { return prEEPInt_; }

    void setLbTipo(const std::string& text);
    void setDeviceClass(int deviceClass) { deviceClass_ = deviceClass; }
    // A null page name leaves that notebook where it is.
    void selectPages(const char* notebook1, const char* notebook2 = nullptr,
                     const char* notebook3 = nullptr, const char* notebook4 = nullptr);
    void setGroupBox4Visible(bool visible);
    void setCheckBox35Caption(const std::string& caption);
    void setReadLockBitsEnabled(bool enabled);
    // True when the gauge moved (the widget needs repainting).
    bool setFlashGauge(int percent);
    bool setEepromGauge(int percent);

private:
    void notify(Aspect aspect)
    {
        if (changed)
            changed(aspect);
    }

    std::string lbTipo_ = kUnknownType;
    int deviceClass_ = 0;
    std::string notebook1_ = kPageEmpty;
    std::string notebook2_ = "163";
    std::string notebook3_ = "LB128";
    std::string notebook4_ = "AT90Sxxxx";
    bool groupBox4Visible_ = true;
    std::string checkBox35Caption_ = "FSTRT";
    bool readLockBitsEnabled_ = true;
    int prFlash_ = 0;
    int prEEPInt_ = 0;
};

} // namespace vardel

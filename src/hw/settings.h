#pragma once

#include <map>
#include <memory>
#include <string>

class QSettings;

namespace vardel {

// The per-user settings store: an INI file "VARDEL" in the user's configuration folder, section
// "CONFIG", every value kept as text.
class Settings {
public:
    // The user's own store.
    Settings();
    // A store kept in the given file (tests).
    explicit Settings(const std::string& fileName);
    // A store kept in memory only, holding the given values as text (fuzzing, tests).
    explicit Settings(std::map<std::string, std::string> values);
    ~Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    std::string ReadString(const std::string& name, const std::string& def) const;
    // Decimal text; the default when the value is missing or not an integer.
    int ReadInteger(const std::string& name, int def) const;
    bool Contains(const std::string& name) const;

    void WriteString(const std::string& name, const std::string& value);
    void WriteInteger(const std::string& name, int value);
    // Puts what was written on disk; the store also does this when it is destroyed.
    void Sync();

    std::string fileName() const;

private:
    std::unique_ptr<QSettings> store_; // null for a store in memory
    std::map<std::string, std::string> values_;
};

} // namespace vardel

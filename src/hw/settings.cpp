#include "hw/settings.h"

#include <QSettings>
#include <QStandardPaths>
#include <QString>

namespace vardel {

namespace {
const QString kSection = QStringLiteral("CONFIG/");

QString key(const std::string& name)
{
    return kSection + QString::fromStdString(name);
}

QString userStoreFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/VARDEL.ini");
}
} // namespace

Settings::Settings() : Settings(userStoreFile().toStdString()) {}

Settings::Settings(const std::string& fileName)
    : store_(std::make_unique<QSettings>(QString::fromStdString(fileName), QSettings::IniFormat))
{
}

Settings::Settings(std::map<std::string, std::string> values) : values_(std::move(values)) {}

Settings::~Settings() = default;

std::string Settings::ReadString(const std::string& name, const std::string& def) const
{
    if (!store_) {
        const auto v = values_.find(name);
        return v == values_.end() ? def : v->second;
    }
    const QVariant v = store_->value(key(name));
    if (!v.isValid())
        return def;
    return v.toString().toStdString();
}

int Settings::ReadInteger(const std::string& name, int def) const
{
    if (!Contains(name))
        return def;
    bool ok = false;
    const int n = QString::fromStdString(ReadString(name, {})).toInt(&ok, 10);
    return ok ? n : def;
}

bool Settings::Contains(const std::string& name) const
{
    return store_ ? store_->contains(key(name)) : values_.count(name) != 0;
}

void Settings::WriteString(const std::string& name, const std::string& value)
{
    if (store_)
        store_->setValue(key(name), QString::fromStdString(value));
    else
        values_[name] = value;
}

void Settings::WriteInteger(const std::string& name, int value)
{
    WriteString(name, std::to_string(value));
}

void Settings::Sync()
{
    if (store_)
        store_->sync();
}

std::string Settings::fileName() const
{
    return store_ ? store_->fileName().toStdString() : std::string();
}

} // namespace vardel

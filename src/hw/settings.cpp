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

Settings::~Settings() = default;

std::string Settings::ReadString(const std::string& name, const std::string& def) const
{
    const QVariant v = store_->value(key(name));
    if (!v.isValid())
        return def;
    return v.toString().toStdString();
}

int Settings::ReadInteger(const std::string& name, int def) const
{
    const QVariant v = store_->value(key(name));
    if (!v.isValid())
        return def;
    bool ok = false;
    const int n = v.toString().toInt(&ok, 10);
    return ok ? n : def;
}

bool Settings::Contains(const std::string& name) const
{
    return store_->contains(key(name));
}

void Settings::WriteString(const std::string& name, const std::string& value)
{
    store_->setValue(key(name), QString::fromStdString(value));
}

void Settings::WriteInteger(const std::string& name, int value)
{
    store_->setValue(key(name), QString::number(value));
}

void Settings::Sync()
{
    store_->sync();
}

std::string Settings::fileName() const
{
    return store_->fileName().toStdString();
}

} // namespace vardel

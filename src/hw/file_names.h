#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>

namespace vardel {

// File names are bytes to the system, and not every name is UTF-8. On their way through QString
// they keep every byte: UTF-8 sequences become their characters, every other byte becomes the
// lone surrogate U+DC80..U+DCFF, and both turn back into the same bytes.
QString QStringFromFileName(std::string_view bytes);
std::string FileNameFromQString(const QString& name);

// The program's arguments in that form (QCoreApplication::arguments() replaces bytes that are not
// UTF-8 and so loses them).
QStringList ArgumentsFromArgv(int argc, char** argv);

} // namespace vardel

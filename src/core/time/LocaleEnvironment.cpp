#include "time/LocaleEnvironment.h"

#include <QByteArray>
#include <QtGlobal>

namespace vardelle {

namespace {

bool isLocaleNameCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

} // namespace

std::string localeFromEnvironment(const char* category)
{
    QByteArray value;
    for (const char* name : {"LC_ALL", category, "LANG"}) {
        value = qgetenv(name);
        if (!value.isEmpty())
            break;
    }
    for (char end : {'.', '@'}) {
        if (const qsizetype at = value.indexOf(end); at >= 0)
            value.truncate(at);
    }
    if (value.isEmpty() || value == "C" || value == "POSIX")
        return "en";
    for (char c : value) {
        if (!isLocaleNameCharacter(c))
            return "en";
    }
    return value.toStdString();
}

} // namespace vardelle

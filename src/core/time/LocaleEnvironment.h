#pragma once

#include <string>

namespace vardelle {

// The locale the environment asks for in one category: the first non-empty of LC_ALL,
// `category` (for example "LC_TIME") and LANG, without codeset and modifier
// ("de_DE.UTF-8@euro" gives "de_DE"). "en" when none is set, for "C" and "POSIX", and for
// anything that is not a plain locale name.
std::string localeFromEnvironment(const char* category);

} // namespace vardelle

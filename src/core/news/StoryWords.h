#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

// The words of stories as they are compared to tell whether two stories report one event.
namespace vardelle::storywords {

// The characters words are made of: ASCII letters and digits at once, other letters as Unicode
// says.
inline bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

inline bool isAsciiLetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

inline bool isLetter(QChar c)
{
    return c.unicode() < 0x80 ? isAsciiLetter(c.unicode()) : c.isLetter();
}

inline bool isWordChar(QChar c)
{
    return isDigit(c.unicode()) || isLetter(c);
}

// The form in which words are compared: lower case, a possessive dropped, and a plain plural
// folded to its singular ("patches" and "patch" are one word, "Windows" and "window" too).
QString foldWord(QStringView word);

// Whether a folded word is a common word of English or of security news, which says nothing
// about which event a story is about.
bool isCommonWord(const QString& folded);
// Whether a folded word is a name that many unrelated stories carry ("Microsoft", "Chrome"),
// which alone says little about which event it is.
bool isBroadName(const QString& folded);

} // namespace vardelle::storywords

// The speakable-text normaliser: ICU regular expressions, break iterators and normalisation
// over text a feed controls.
#include "FuzzTargets.h"

#include "briefing/SpeechText.h"

#include <QString>

void vardelle::fuzz::speechText(QByteArrayView data)
{
    const QString text = QString::fromUtf8(data);
    const QString spoken = cleanForSpeech(text);
    FUZZ_CHECK(spoken.size() <= 16 * text.size() + 16);
    stripSymbols(text);
}

#pragma once

#include <QString>

namespace vardelle {

// Turns a headline title or publisher name into plain speakable prose: links dropped,
// vulnerability identifiers and money spelled for speech, markup, emoji and symbols removed,
// typographic punctuation simplified, white space folded, and no terminal mark left at the end
// (the caller appends its own full stop). Pure; safe on any thread.
QString cleanForSpeech(const QString& text);

// Drops emoji that display as pictures, the arrow/symbol blocks U+2190..U+2BFF and the variation
// selectors, code point by code point.
QString stripSymbols(const QString& text);

} // namespace vardelle

#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <expat.h>

#include <string>

namespace vardelle {

// Documents declared in an encoding expat does not know. Single-byte encodings (windows-1252,
// ISO-8859-15, KOI8-R and the like) are streamed through a byte table built from ICU's
// converter; any other encoding ICU knows is converted whole to UTF-8 and parsed again.
class EncodingFallback {
public:
    // For XML_SetUnknownEncodingHandler, with this object as its data.
    static int XMLCALL handler(void* data, const XML_Char* name, XML_Encoding* info);

    // True when the declared encoding needs the whole document converted.
    bool needsConversion() const { return m_needsConversion; }
    // The document in UTF-8, converted from the declared encoding; null when ICU cannot.
    QByteArray toUtf8(QByteArrayView document) const;

private:
    std::string m_encoding;
    bool m_needsConversion = false;
};

// Feeds the whole of `document` to `parser` in pieces of 4 MiB, and tells whether it was well
// formed to its end. Frees nothing. Expat copies what it is given into a buffer of its own: in
// pieces, that buffer stays small and warm instead of growing to the document's size.
bool parseWhole(XML_Parser parser, QByteArrayView document);

// The document from its XML declaration on, when white space or byte-order marks stand before
// the declaration (which XML forbids but real feeds do); otherwise the document as it is.
QByteArrayView skipJunkBeforeDeclaration(QByteArrayView document);

} // namespace vardelle

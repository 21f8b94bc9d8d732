#include "news/XmlEncoding.h"

#include <unicode/ucnv.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>

namespace vardelle {

namespace {

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter openConverter(const char* name)
{
    UErrorCode status = U_ZERO_ERROR;
    Converter converter(ucnv_open(name, &status));
    if (U_FAILURE(status))
        return nullptr;
    return converter;
}

// The code point one byte stands for, or -1 when the byte is not a whole character.
int decodeByte(UConverter* converter, unsigned char byte)
{
    UErrorCode status = U_ZERO_ERROR;
    ucnv_reset(converter);
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    UChar out[4];
    const char source = char(byte);
    const int32_t length = ucnv_toUChars(converter, out, 4, &source, 1, &status);
    if (U_FAILURE(status) || length != 1)
        return -1;
    const UChar c = out[0];
    // Expat refuses tables that map to surrogates or non-characters.
    if ((c >= 0xD800 && c <= 0xDFFF) || c == 0xFFFE || c == 0xFFFF)
        return -1;
    return c;
}

} // namespace

int XMLCALL EncodingFallback::handler(void* data, const XML_Char* name, XML_Encoding* info)
{
    auto* self = static_cast<EncodingFallback*>(data);
    self->m_encoding = name;
    const Converter converter = openConverter(name);
    if (!converter)
        return XML_STATUS_ERROR;

    if (ucnv_getMaxCharSize(converter.get()) == 1) {
        bool asciiCompatible = true;
        for (int byte = 0; byte < 256; ++byte) {
            info->map[byte] = decodeByte(converter.get(), static_cast<unsigned char>(byte));
            if (byte < 0x80 && info->map[byte] != byte)
                asciiCompatible = false;
        }
        if (asciiCompatible) {
            info->data = nullptr;
            info->convert = nullptr;
            info->release = nullptr;
            return XML_STATUS_OK;
        }
    }
    self->m_needsConversion = true;
    return XML_STATUS_ERROR;
}

QByteArray EncodingFallback::toUtf8(QByteArrayView document) const
{
    if (!openConverter(m_encoding.c_str()))
        return {};
    // Bytes that are not characters of the encoding become U+FFFD.
    const icu::UnicodeString text(document.data(), int32_t(document.size()), m_encoding.c_str());
    if (text.isBogus())
        return {};
    std::string utf8;
    text.toUTF8String(utf8);
    return QByteArray(utf8.data(), qsizetype(utf8.size()));
}

QByteArrayView skipJunkBeforeDeclaration(QByteArrayView document)
{
    qsizetype i = 0;
    while (i < document.size()) {
        if (document.sliced(i).startsWith("\xEF\xBB\xBF"))
            i += 3;
        else if (document[i] == ' ' || document[i] == '\t' || document[i] == '\r' ||
                 document[i] == '\n')
            ++i;
        else
            break;
    }
    if (i > 0 && document.sliced(i).startsWith("<?xml"))
        return document.sliced(i);
    return document;
}

bool parseWhole(XML_Parser parser, QByteArrayView document)
{
    constexpr qsizetype chunk = 1 << 22;
    for (qsizetype offset = 0;; offset += chunk) {
        const qsizetype length = std::min(chunk, document.size() - offset);
        const bool last = offset + length >= document.size();
        if (XML_Parse(parser, document.data() + offset, int(length), last) != XML_STATUS_OK)
            return false;
        if (last)
            return true;
    }
}

} // namespace vardelle

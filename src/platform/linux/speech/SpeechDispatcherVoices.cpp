#include "linux/speech/SpeechDispatcherVoices.h"

#include "linux/speech/SpeechDispatcherConnection.h"

#include <QByteArray>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <libspeechd.h>

#include <algorithm>
#include <cstdlib>

namespace vardelle {

SpeechVoice dispatcherVoice(const QString& module, const QString& name, const QString& language,
                            const QString& variant)
{
    QString displayName = name;
    const QString suffix = QLatin1Char('+') + variant;
    if (!variant.isEmpty() && variant != QLatin1String("none") && name.size() > suffix.size() &&
        name.endsWith(suffix))
        displayName = name.chopped(suffix.size()) + QLatin1String(", ") + variant;
    if (displayName.isEmpty())
        displayName = module;
    return {module + QLatin1Char('/') + name, displayName, dispatcherLanguageTag(language),
            dispatcherModuleQuality(module)};
}

SpeechVoiceQuality dispatcherModuleQuality(const QString& module)
{
    static const char* const premium[] = {"piper", "mimic3", "coqui"};
    static const char* const enhanced[] = {"rhvoice", "festival", "mbrola", "voxin",
                                           "ibmtts",  "kali",     "pico",   "baratinoo"};
    const QString lower = module.toLower();
    for (const char* word : premium) {
        if (lower.contains(QLatin1String(word)))
            return SpeechVoiceQuality::Premium;
    }
    for (const char* word : enhanced) {
        if (lower.contains(QLatin1String(word)))
            return SpeechVoiceQuality::Enhanced;
    }
    return SpeechVoiceQuality::Default;
}

QString dispatcherLanguageTag(const QString& code)
{
    const QStringList subtags = code.split(QRegularExpression(QStringLiteral("[-_]")));
    QStringList result;
    bool privateUse = false;
    for (qsizetype i = 0; i < subtags.size(); ++i) {
        const QString& subtag = subtags[i];
        const bool letters = std::all_of(subtag.begin(), subtag.end(), [](QChar c) {
            return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        });
        if (i == 0 || privateUse || !letters)
            result.append(subtag.toLower());
        else if (subtag.size() == 2)
            result.append(subtag.toUpper());
        else if (subtag.size() == 4)
            result.append(subtag.left(1).toUpper() + subtag.mid(1).toLower());
        else
            result.append(subtag.toLower());
        if (i > 0 && subtag.size() == 1)
            privateUse = privateUse || subtag.compare(QLatin1String("x"), Qt::CaseInsensitive) == 0;
    }
    return result.join(QLatin1Char('-'));
}

SPDConnection* openDispatcher(const SpeechDispatcherAddress& address, const char* component,
                              bool threaded, QString* error)
{
    QByteArray socket = QFile::encodeName(address.socketPath);
    SPDConnectionAddress where{};
    where.method = SPD_METHOD_UNIX_SOCKET;
    where.unix_socket_name = socket.data();
    char* openError = nullptr;
    SPDConnection* connection = spd_open2(
        "vardelle", component, nullptr, threaded ? SPD_MODE_THREADED : SPD_MODE_SINGLE,
        address.socketPath.isEmpty() ? nullptr : &where, address.autospawn ? 1 : 0, &openError);
    if (!connection && error) {
        *error = QStringLiteral("speech-dispatcher could not be reached or started (%1)")
                     .arg(QString::fromLocal8Bit(openError ? openError : "no reason given"));
    }
    std::free(openError);
    return connection;
}

QList<SpeechVoice> listDispatcherVoices(const SpeechDispatcherAddress& address, QString* error)
{
    QList<SpeechVoice> voices;
    SPDConnection* connection = openDispatcher(address, "voices", false, error);
    if (!connection)
        return voices;

    char** modules = spd_list_modules(connection);
    if (!modules && error)
        *error = QStringLiteral("speech-dispatcher did not list its output modules");
    for (char** module = modules; module && *module; ++module) {
        const QString moduleName = QString::fromUtf8(*module);
        if (spd_set_output_module(connection, *module) != 0)
            continue;
        SPDVoice** list = spd_list_synthesis_voices(connection);
        for (SPDVoice** voice = list; voice && *voice; ++voice) {
            voices.append(dispatcherVoice(moduleName, QString::fromUtf8((*voice)->name),
                                          QString::fromUtf8((*voice)->language),
                                          QString::fromUtf8((*voice)->variant)));
        }
        if (list)
            free_spd_voices(list);
    }
    if (modules)
        free_spd_modules(modules);
    spd_close(connection);
    return voices;
}

} // namespace vardelle

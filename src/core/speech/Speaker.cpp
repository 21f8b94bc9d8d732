#include "speech/Speaker.h"

#include <QStringView>

#include <algorithm>
#include <limits>

namespace vardelle {

namespace {

// UTF-16 code units reordered so that comparing them orders strings by code point: surrogates
// (U+D800..U+DFFF) rise above the rest of the basic plane.
char32_t codePointOrderKey(char16_t unit)
{
    if (unit >= 0xE000)
        return unit - 0x800;
    if (unit >= 0xD800)
        return unit + 0x2000;
    return unit;
}

bool lessByCodePoint(QStringView a, QStringView b)
{
    const qsizetype length = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < length; ++i) {
        if (a[i] != b[i])
            return codePointOrderKey(a[i].unicode()) < codePointOrderKey(b[i].unicode());
    }
    return a.size() < b.size();
}

} // namespace

Speaker::Speaker(std::unique_ptr<SpeechEngine> engine, QObject* parent)
    : QObject(parent)
    , m_engine(std::move(engine))
{
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, &Speaker::watchdogExpired);
    m_voiceListWait.setSingleShot(true);
    connect(&m_voiceListWait, &QTimer::timeout, this, &Speaker::beginWaiting);
    connect(m_engine.get(), &SpeechEngine::finished, this, &Speaker::engineFinished);
    connect(m_engine.get(), &SpeechEngine::cancelled, this, &Speaker::engineCancelled);
    connect(m_engine.get(), &SpeechEngine::voicesChanged, this, &Speaker::reloadVoices);
    reloadVoices();
}

void Speaker::loadVoices()
{
    // Listing takes seconds of the engine's time and is only wanted where voices are shown, so
    // it waits until someone asks; once is enough, the engine keeps the list.
    if (m_voicesRequested)
        return;
    m_voicesRequested = true;
    m_engine->loadVoices();
}

Speaker::~Speaker() = default;

float Speaker::engineRate(double rate)
{
    return static_cast<float>(0.35 + 0.35 * rate);
}

void Speaker::speak(const QString& text, const QString& voiceIdentifier, double rate,
                    Completion completion)
{
    stop();

    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        if (completion)
            completion();
        return;
    }

    m_completion = std::move(completion);
    setSpeaking(true);
    if (m_voicesRequested && !m_engine->voicesLoaded() && !m_fixedDefault) {
        m_waiting = Waiting{trimmed, voiceIdentifier, rate};
        m_voiceListWait.start(voiceListWait);
        return;
    }
    begin(trimmed, voiceIdentifier, rate);
}

void Speaker::begin(const QString& text, const QString& voiceIdentifier, double rate)
{
    m_current = m_engine->speak(text, resolveVoice(voiceIdentifier), engineRate(rate));
    m_watchdog.start(watchdogTimeout(text.size()));
}

void Speaker::beginWaiting()
{
    m_voiceListWait.stop();
    if (!m_waiting)
        return;
    if (!m_engine->voicesLoaded())
        m_fixedDefault = QString();
    const Waiting waiting = *std::exchange(m_waiting, std::nullopt);
    begin(waiting.text, waiting.voiceIdentifier, waiting.rate);
}

void Speaker::stop()
{
    if (m_current)
        m_engine->stop();
    m_waiting.reset();
    m_voiceListWait.stop();
    endCurrent();
}

std::optional<SpeechVoice> Speaker::defaultVoice() const
{
    if (!m_englishVoices.isEmpty())
        return m_englishVoices.first();
    return m_engine->voiceForLanguage(QStringLiteral("en-US"));
}

void Speaker::setWatchdog(std::chrono::milliseconds perCharacter, std::chrono::milliseconds margin)
{
    m_watchdogPerCharacter = perCharacter;
    m_watchdogMargin = margin;
}

std::chrono::milliseconds Speaker::watchdogTimeout(qsizetype characters) const
{
    const auto limit = std::chrono::milliseconds(std::numeric_limits<int>::max());
    const auto perCharacter = std::max(m_watchdogPerCharacter, std::chrono::milliseconds(0));
    if (perCharacter.count() > 0 && characters > (limit - m_watchdogMargin) / perCharacter)
        return limit;
    const std::chrono::milliseconds total =
        perCharacter * static_cast<std::chrono::milliseconds::rep>(characters) + m_watchdogMargin;
    return std::clamp(total, std::chrono::milliseconds(0), limit);
}

void Speaker::setSpeaking(bool speaking)
{
    m_isSpeaking = speaking;
    emit isSpeakingChanged(speaking);
}

void Speaker::engineFinished(SpeechEngine::UtteranceId utterance)
{
    if (m_current == utterance)
        endCurrent();
}

// A cancellation that this speaker did not ask for (another program's speech pushed ours out,
// the speech service went away) still ends the utterance for the client waiting on it.
void Speaker::engineCancelled(SpeechEngine::UtteranceId utterance)
{
    if (m_current == utterance)
        endCurrent();
}

// The engine never said that the text ended: the service is gone, muted or stuck. Silence
// whatever it may still be doing and let the client go on.
void Speaker::watchdogExpired()
{
    if (!m_current)
        return;
    m_engine->stop();
    endCurrent();
}

void Speaker::endCurrent()
{
    m_current.reset();
    m_watchdog.stop();
    setSpeaking(false);
    Completion completion = std::exchange(m_completion, nullptr);
    if (completion)
        completion();
}

void Speaker::reloadVoices()
{
    QList<SpeechVoice> english;
    for (const SpeechVoice& voice : m_engine->voices()) {
        if (voice.language.startsWith(QLatin1String("en"), Qt::CaseSensitive))
            english.append(voice);
    }
    std::stable_sort(english.begin(), english.end(),
                     [](const SpeechVoice& a, const SpeechVoice& b) {
                         if (a.quality != b.quality)
                             return a.quality > b.quality;
                         return lessByCodePoint(a.name, b.name);
                     });
    m_englishVoices = english;
    emit voicesChanged();
    if (m_waiting && m_engine->voicesLoaded())
        beginWaiting();
}

// The installed voice the identifier names, else the default voice. Until the engine's list is
// loaded the identifier goes through as it stands and the engine falls back on its own.
QString Speaker::resolveVoice(const QString& voiceIdentifier)
{
    if (voiceIdentifier.isEmpty() && m_fixedDefault)
        return *m_fixedDefault;
    if (!m_engine->voicesLoaded())
        return voiceIdentifier;
    if (!voiceIdentifier.isEmpty()) {
        const QList<SpeechVoice> installed = m_engine->voices();
        const bool found =
            std::any_of(installed.begin(), installed.end(), [&](const SpeechVoice& voice) {
                return voice.identifier == voiceIdentifier;
            });
        if (found)
            return voiceIdentifier;
    }
    if (m_fixedDefault)
        return *m_fixedDefault;
    const std::optional<SpeechVoice> fallback = defaultVoice();
    return fallback ? fallback->identifier : QString();
}

} // namespace vardelle

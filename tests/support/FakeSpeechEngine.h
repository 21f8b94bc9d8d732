#pragma once

#include "speech/SpeechEngine.h"

#include <QList>
#include <QString>

#include <optional>

namespace vardelle::test {

// A speech engine that speaks nothing: it records what it was asked to say and reports the end
// of an utterance only when the test tells it to.
class FakeSpeechEngine final : public SpeechEngine {
    Q_OBJECT

public:
    struct Utterance {
        UtteranceId id = 0;
        QString text;
        QString voiceIdentifier;
        float rate = 0;
    };

    explicit FakeSpeechEngine(QObject* parent = nullptr);

    UtteranceId speak(const QString& text, const QString& voiceIdentifier, float rate) override;
    void stop() override { ++m_stops; }
    void loadVoices() override { ++m_voiceLoads; }

    // Everything speak() was given, oldest first.
    const QList<Utterance>& spoken() const { return m_spoken; }
    UtteranceId lastId() const { return m_spoken.isEmpty() ? 0 : m_spoken.last().id; }
    int stops() const { return m_stops; }
    int voiceLoads() const { return m_voiceLoads; }

    // Reports as the platform would, from the main thread.
    void finish(UtteranceId utterance) { emit finished(utterance); }
    void cancel(UtteranceId utterance) { emit cancelled(utterance); }
    // Loads `voices` as the installed list.
    void install(const QList<SpeechVoice>& voices) { setVoices(voices); }
    // What voiceForLanguage() answers; unset: the default lookup in the installed list.
    void setLanguageVoice(std::optional<SpeechVoice> voice) { m_languageVoice = std::move(voice); }
    std::optional<SpeechVoice> voiceForLanguage(const QString& language) const override;

private:
    QList<Utterance> m_spoken;
    int m_stops = 0;
    int m_voiceLoads = 0;
    std::optional<std::optional<SpeechVoice>> m_languageVoice;
};

} // namespace vardelle::test

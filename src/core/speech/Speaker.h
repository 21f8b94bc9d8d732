#pragma once

#include "speech/SpeechEngine.h"
#include "speech/SpeechVoice.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace vardelle {

// Speaks one text at a time with the chosen voice and speed, stops at once on request, tells its
// client when the text has ended and lists the English voices.
//
// Every utterance's completion runs exactly once, on the main thread: when the engine reports the
// end or the cancellation of that utterance, when stop() or the next speak() cuts it off, or when
// the engine has not reported anything long after the text should have ended (the watchdog).
// Reports from the engine act only on the utterance they name, so a late report about an earlier
// utterance never touches the current one.
//
// Main thread only.
class Speaker : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isSpeaking READ isSpeaking NOTIFY isSpeakingChanged)

public:
    using Completion = std::function<void()>;

    explicit Speaker(std::unique_ptr<SpeechEngine> engine, QObject* parent = nullptr);
    ~Speaker() override;

    // Stops what is being spoken (running its completion), then speaks `text` trimmed of white
    // space at both ends. Nothing left: the completion runs at once and nothing is spoken.
    // `voiceIdentifier` is a SpeechVoice::identifier, empty for the default voice; `rate` is the
    // user's speed setting, 0 to 1.
    void speak(const QString& text, const QString& voiceIdentifier, double rate,
               Completion completion = {});
    // The same, with a completion that runs only while `context` still exists.
    template <class Functor>
    void speak(const QString& text, const QString& voiceIdentifier, double rate,
               const QObject* context, Functor&& completion)
    {
        speak(text, voiceIdentifier, rate,
              [guard = QPointer<const QObject>(context),
               fn = std::forward<Functor>(completion)]() mutable {
                  if (guard)
                      fn();
              });
    }

    // Cuts off speech at once and runs the pending completion, if any, before returning.
    void stop();

    // True from the moment a text is handed to the engine until it ends, is cut off or stopped.
    bool isSpeaking() const { return m_isSpeaking; }

    // The installed English voices (language beginning with "en"): higher quality first, then by
    // name in code-point order; the engine's order where both are equal. Empty until the engine's
    // list is loaded (voicesLoaded(), voicesChanged()).
    QList<SpeechVoice> englishVoices() const { return m_englishVoices; }
    // Asks the engine for its voices, the first time only; voicesChanged() follows. From then
    // on, a text that arrives before the list waits for it up to voiceListWait, so that the
    // default voice is the same from the first utterance on; when the list is later than that,
    // the engine's own default serves as the default voice for the rest of the process.
    void loadVoices();
    static constexpr std::chrono::milliseconds voiceListWait{300};
    // The voice used when the chosen one is not installed: the first English voice, else the
    // engine's voice for "en-US", else none (the engine then speaks with its own default).
    std::optional<SpeechVoice> defaultVoice() const;
    bool voicesLoaded() const { return m_engine->voicesLoaded(); }

    SpeechEngine& engine() const { return *m_engine; }

    // The engine's rate for the user's speed setting: 0.35 + 0.35 x `rate`, so the fastest
    // setting stays well short of the engine's fastest speech.
    static float engineRate(double rate);

    // How long an utterance may go without a report from the engine before it counts as ended:
    // `perCharacter` for each character of the text plus `margin`. The defaults allow for speech
    // far slower than the slowest setting.
    void setWatchdog(std::chrono::milliseconds perCharacter, std::chrono::milliseconds margin);
    std::chrono::milliseconds watchdogTimeout(qsizetype characters) const;

signals:
    // Emitted on every assignment, also of an equal value.
    void isSpeakingChanged(bool speaking);
    // The engine's voice list has been loaded or has changed.
    void voicesChanged();

private:
    void setSpeaking(bool speaking);
    void engineFinished(SpeechEngine::UtteranceId utterance);
    void engineCancelled(SpeechEngine::UtteranceId utterance);
    void watchdogExpired();
    // Forgets the current utterance and runs its completion.
    void endCurrent();
    void reloadVoices();
    // Hands the text to the engine.
    void begin(const QString& text, const QString& voiceIdentifier, double rate);
    // Speaks the text that waited for the voice list.
    void beginWaiting();
    QString resolveVoice(const QString& voiceIdentifier);

    std::unique_ptr<SpeechEngine> m_engine;
    Completion m_completion;
    bool m_isSpeaking = false;
    std::optional<SpeechEngine::UtteranceId> m_current;
    QTimer m_watchdog;
    std::chrono::milliseconds m_watchdogPerCharacter{200};
    std::chrono::milliseconds m_watchdogMargin{15000};
    QList<SpeechVoice> m_englishVoices;
    bool m_voicesRequested = false;
    struct Waiting {
        QString text;
        QString voiceIdentifier;
        double rate = 0;
    };
    std::optional<Waiting> m_waiting;
    QTimer m_voiceListWait;
    // Set once a text was spoken before the voice list came: the engine's own default voice
    // (empty) stays the default voice.
    std::optional<QString> m_fixedDefault;
};

} // namespace vardelle

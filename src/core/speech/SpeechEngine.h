#pragma once

#include "speech/SpeechVoice.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace vardelle {

// The seam to the platform's speech synthesizer. It speaks one text at a time, cuts it off on
// request and reports how each utterance ended, naming it by the id `speak` handed out.
//
// Main thread only: every member is called there, and every signal is emitted there, from the
// event loop and never during a call to `speak` or `stop`.
class SpeechEngine : public QObject {
    Q_OBJECT

public:
    using UtteranceId = quint64;

    explicit SpeechEngine(QObject* parent = nullptr);
    ~SpeechEngine() override;

    // Starts speaking `text` as one utterance and returns its id (never 0, never reused).
    // `voiceIdentifier` is a SpeechVoice::identifier, or empty for the engine's own choice; `rate`
    // runs from 0 (slowest) to 1 (fastest) with 0.5 the engine's normal speed. Exactly one of
    // finished() or cancelled() follows for the id; an engine that cannot speak reports finished()
    // at once (and unavailable() with the reason).
    virtual UtteranceId speak(const QString& text, const QString& voiceIdentifier, float rate) = 0;

    // Cuts off what is being spoken, mid-word, and drops anything waiting to be spoken.
    virtual void stop() = 0;

    // Starts listing the installed voices unless the list is loaded or on its way; never waits
    // for it. voicesChanged() tells when the list is in.
    virtual void loadVoices() = 0;

    // The installed voices in the engine's order, once loaded; empty before.
    bool voicesLoaded() const { return m_voicesLoaded; }
    QList<SpeechVoice> voices() const { return m_voices; }

    // The engine's voice for a BCP 47 language code, if it has one. The loaded voice whose
    // language equals `language`, ignoring case, unless an engine knows better.
    virtual std::optional<SpeechVoice> voiceForLanguage(const QString& language) const;

signals:
    void finished(vardelle::SpeechEngine::UtteranceId utterance);
    void cancelled(vardelle::SpeechEngine::UtteranceId utterance);
    void voicesChanged();
    // The synthesizer cannot be reached or refused the text; `reason` is for a person to read.
    void unavailable(const QString& reason);

protected:
    // Replaces the loaded list and emits voicesChanged().
    void setVoices(const QList<SpeechVoice>& voices);

private:
    QList<SpeechVoice> m_voices;
    bool m_voicesLoaded = false;
};

} // namespace vardelle

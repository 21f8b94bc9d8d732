#pragma once

#include "speech/SpeechVoice.h"

#include <QList>
#include <QString>
#include <QWidget>

class QComboBox;
class QGroupBox;
class QPlainTextEdit;
class QSlider;

namespace vardelle {

class AppCoordinator;
class AppSettings;
class DesktopActions;
class Speaker;

// The Voice tab: the voice and its speed with a test, how to get more voices, and the text of
// the last briefing while there is one.
//
// The voices offered are those installed when the tab is built (or, when the list was not in
// yet, when it first arrives): a voice installed later shows after a restart.
class VoiceSettingsTab : public QWidget {
    Q_OBJECT

public:
    VoiceSettingsTab(AppSettings& settings, AppCoordinator& coordinator, Speaker& speaker,
                     DesktopActions& actions, QWidget* parent = nullptr);

    static const QString sampleText;
    // The slider's positions from slowest to fastest.
    static constexpr int speedSteps = 1000;

    static QString voiceText(const SpeechVoice& voice);

private:
    void fillVoices(const QList<SpeechVoice>& voices);
    void showVoice(const QString& identifier);
    void showSpeed(double rate);
    void writeSpeed();
    void showLastBriefing(const QString& briefing);

    AppSettings& m_settings;
    AppCoordinator& m_coordinator;
    Speaker& m_speaker;
    bool m_voicesFilled = false;

    QComboBox* m_voice = nullptr;
    QSlider* m_speed = nullptr;
    QGroupBox* m_lastBriefingSection = nullptr;
    QPlainTextEdit* m_lastBriefing = nullptr;
};

} // namespace vardelle

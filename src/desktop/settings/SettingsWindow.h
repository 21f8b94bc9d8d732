#pragma once

#include <QWidget>

class QTabWidget;

namespace vardelle {

class AppCoordinator;
class AppSettings;
class AutostartEntry;
class GeneralSettingsTab;
class HeadlineSettingsTab;
class HeadlineStore;
class Speaker;
class VoiceSettingsTab;

// The settings window: General, Headlines and Voice tabs whose controls write every preference
// the moment they change, the login item and the maintenance actions.
//
// Made once and kept: closing only hides it, and present() shows the same window with its
// state, centred on the screen the first time.
//
// Main thread only.
class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr int contentWidth = 640;
    static constexpr int contentHeight = 560;

    SettingsWindow(AppSettings& settings, AppCoordinator& coordinator, HeadlineStore& store,
                   Speaker& speaker, AutostartEntry& loginItem, QWidget* parent = nullptr);

    // Shows the window (restoring it when minimised), brings it to the front and gives it focus.
    void present();

    QTabWidget* tabs() const { return m_tabs; }
    GeneralSettingsTab* generalTab() const { return m_general; }
    HeadlineSettingsTab* headlineTab() const { return m_headlines; }
    VoiceSettingsTab* voiceTab() const { return m_voice; }

private:
    void centre();

    QTabWidget* m_tabs = nullptr;
    GeneralSettingsTab* m_general = nullptr;
    HeadlineSettingsTab* m_headlines = nullptr;
    VoiceSettingsTab* m_voice = nullptr;
    bool m_placed = false;
};

} // namespace vardelle

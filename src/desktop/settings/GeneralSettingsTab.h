#pragma once

#include <QString>
#include <QWidget>

class QCheckBox;
class QFileSystemWatcher;
class QLabel;
class QVBoxLayout;

namespace vardelle {

class AppCoordinator;
class AppSettings;
class AutostartEntry;
class DesktopActions;
class HeadlineStore;

// The General tab: start at login, the automatic briefings and their spacing, the bubble's size
// and the story limits, the background refresh of the feeds, and the maintenance actions.
//
// The login item's status follows its entry on disk, and is read again whenever the tab comes
// into view or its window becomes active (the program it starts may have moved meanwhile). The
// store's last gather follows every run of the coordinator.
class GeneralSettingsTab : public QWidget {
    Q_OBJECT

public:
    GeneralSettingsTab(AppSettings& settings, AppCoordinator& coordinator, HeadlineStore& store,
                       AutostartEntry& loginItem, DesktopActions& actions,
                       QWidget* parent = nullptr);

    // The last login-item error, empty when the last change went through.
    QString launchError() const { return m_launchError; }

    // Reads the login item and the last gather again.
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildStartup(QVBoxLayout* column);
    void buildAnnounce(QVBoxLayout* column);
    void buildBubble(QVBoxLayout* column);
    void buildRefresh(QVBoxLayout* column);
    void buildMaintenance(QVBoxLayout* column, DesktopActions& actions);
    void launchAtLoginChanged(bool on);
    // Reads the status; `moveToggle`: also sets the toggle to it, without acting on that.
    void refreshLoginItem(bool moveToggle);
    void refreshLastGather();
    void watchLoginItem();

    AppSettings& m_settings;
    AppCoordinator& m_coordinator;
    HeadlineStore& m_store;
    AutostartEntry& m_loginItem;

    QString m_launchError;
    QCheckBox* m_launchAtLogin = nullptr;
    QLabel* m_loginStatus = nullptr;
    QLabel* m_launchErrorLine = nullptr;
    QWidget* m_lastGatherRow = nullptr;
    QLabel* m_lastGather = nullptr;
    QFileSystemWatcher* m_loginItemWatcher = nullptr;
    qint64 m_refreshMinutes = 30; // what switching the background refresh on again restores
};

} // namespace vardelle

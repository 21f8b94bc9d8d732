#pragma once

#include "briefing/AnnouncerState.h"
#include "time/Instant.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QMenu;

namespace vardelle {

class AppCoordinator;
class AppSettings;
class BubbleWidget;
class BubblePanel;
class Clock;
class HeadlineStore;
class OrbView;

// Owns the floating bubble: builds its panel, container and orb on the first show, places it
// where the user left it (or in the default corner), keeps the orb in step with the coordinator's
// state and the bubble's size with the compact setting, and turns clicks and the context menu into
// briefings, stops and settings actions. The panel's top-left corner is stored in the preferences
// "bubbleFrameX" and "bubbleFrameY" whenever it is placed, dragged or resized.
//
// Main thread only.
class BubbleController : public QObject {
    Q_OBJECT

public:
    using Action = std::function<void()>;
    using UrlOpener = std::function<void(const QUrl&)>;
    // The available area (without panels and docks) of every connected screen, the main screen
    // first; empty when there is none.
    using ScreenAreas = std::function<QList<QRect>()>;

    static const QString toolTip;
    // The default corner: the bubble's lower right this far from the main screen's available
    // area's right and bottom edges.
    static constexpr int cornerRight = 24;
    static constexpr int cornerBottom = 48;
    // Headlines listed in the context menu, at most.
    static constexpr int recentHeadlines = 8;

    BubbleController(AppCoordinator& coordinator, AppSettings& settings, HeadlineStore& store,
                     const Clock& clock, QObject* parent = nullptr);
    ~BubbleController() override;

    void setOpenSettingsHandler(Action handler) { m_openSettings = std::move(handler); }
    void setQuitHandler(Action handler) { m_quit = std::move(handler); }
    // How headline links are opened; the desktop's default handler unless set.
    void setUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }
    // Where the screens are; the application's screens unless set.
    void setScreenAreas(ScreenAreas areas) { m_screenAreas = std::move(areas); }

    // Builds the bubble on first use, places it and shows it without activating anything; stores
    // bubbleHidden = false.
    void show();
    // Takes the bubble off the screen, keeping it; stores bubbleHidden = true.
    void hide();
    bool isVisible() const;
    // Stores the panel's position, when there is a panel.
    void savePosition();
    // Forgets the stored position and puts the bubble back in the default corner.
    void resetPosition();

    // The context menu as it reads now; the caller owns it.
    std::unique_ptr<QMenu> buildMenu();

    BubblePanel* panel() const { return m_panel; }
    BubbleWidget* container() const { return m_container; }
    OrbView* orb() const { return m_orb; }

private:
    void build();
    void place();
    void applySize();
    void layOutOrb();
    void showState(const AnnouncerState& state);
    void click();
    void announceLater(bool fromToday);
    QString statusLine() const;
    void addRecentHeadlines(QMenu& menu);

    AppCoordinator& m_coordinator;
    AppSettings& m_settings;
    HeadlineStore& m_store;
    const Clock& m_clock;

    Action m_openSettings;
    Action m_quit;
    UrlOpener m_openUrl;
    ScreenAreas m_screenAreas;

    QPointer<BubblePanel> m_panel;
    BubbleWidget* m_container = nullptr; // owned by the panel
    OrbView* m_orb = nullptr;            // owned by the container
    std::optional<AnnouncerState> m_shownState;
};

} // namespace vardelle

#pragma once

#include "briefing/AnnouncerState.h"
#include "briefing/AppCoordinator.h"
#include "time/Instant.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QMenu;
class QVariantAnimation;

namespace vardelle {

class AppCoordinator;
class AppSettings;
class BubbleWidget;
class BubblePanel;
class Clock;
class DesktopActions;
class HeadlineStore;
class OrbView;

// Owns the floating bubble: builds its panel, bubble widget and orb on the first show, places it
// where the user left it (or in the default corner), keeps the orb in step with the coordinator's
// state and the bubble's size with the compact setting, and turns clicks and the context menu into
// briefings, stops and settings actions. The panel's top-left corner is stored in the preferences
// "bubbleFrameX" and "bubbleFrameY" whenever it is placed, dragged or resized; a resize keeps the
// lower-left corner where it is, also while the bubble is hidden or not built yet.
//
// A click asks for a briefing at once, or stops speech; a double click opens the settings and
// leaves neither behind. The briefing its first click started is stopped again at the second
// press, and a stop waits for the double-click interval before it happens, since a stop cannot
// be taken back.
//
// Main thread only.
class BubbleController : public QObject {
    Q_OBJECT

public:
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

    // How long the compact and expand resize takes.
    static constexpr int resizeMs = 200;

    // The context menu holds `actions`; its double click is their settings command.
    BubbleController(AppCoordinator& coordinator, AppSettings& settings, HeadlineStore& store,
                     const Clock& clock, DesktopActions& actions, QObject* parent = nullptr);
    ~BubbleController() override;

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
    BubbleWidget* bubbleWidget() const { return m_bubbleWidget; }
    OrbView* orb() const { return m_orb; }

private:
    void build();
    void place();
    void applySize();
    void resizeTo(double diameter);
    void finishResize();
    void moveStoredOrigin(int fromSide, int toSide);
    void layOutOrb();
    void showState(const AnnouncerState& state);
    void click();
    void takeBackClick();
    void doubleClick();
    QString statusLine() const;
    // "Reading: <title> — <source>" while a story is being read.
    std::optional<QString> storyLine() const;
    // The tooltip: the story being read, if any, else the usual hint.
    void showReading();
    void addRecentHeadlines(QMenu& menu);
    // The bubble's state for assistive technologies: "Ready", "Gathering", "Reading story 3 of
    // 12: <title>", "Speaking", "Problem: <message>".
    QString accessibleDescription() const;
    void describe();

    AppCoordinator& m_coordinator;
    AppSettings& m_settings;
    HeadlineStore& m_store;
    const Clock& m_clock;
    DesktopActions& m_actions;

    UrlOpener m_openUrl;
    ScreenAreas m_screenAreas;

    QPointer<BubblePanel> m_panel;
    BubbleWidget* m_bubbleWidget = nullptr; // owned by the panel
    OrbView* m_orb = nullptr;               // owned by the bubble widget
    std::optional<AnnouncerState> m_shownState;

    // The orb's diameter the bubble has, or is growing or shrinking to; the stored position is
    // the top-left corner of a panel of that size.
    double m_diameter = 0;
    QVariantAnimation* m_resize = nullptr;

    // A stop asked for by a click, waiting to see whether a second click follows.
    QTimer m_pendingStop;
    // Whether the last click started a briefing, which a second click would take back.
    // The run the last click started, until a double click may take it back.
    AppCoordinator::RunId m_clickRun = 0;
};

} // namespace vardelle

#include "settings/SettingsWindow.h"

#include "briefing/AppCoordinator.h"
#include "linux/desktop/AutostartEntry.h"
#include "settings/AppSettings.h"
#include "settings/GeneralSettingsTab.h"
#include "settings/HeadlineSettingsTab.h"
#include "settings/VoiceSettingsTab.h"
#include "speech/Speaker.h"
#include "store/HeadlineStore.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include <initializer_list>

namespace vardelle {

namespace {

// The first icon the theme has of these names; none when it has none of them.
QIcon themeIcon(std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        const QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
        if (!icon.isNull())
            return icon;
    }
    return {};
}

// A tab's icon from the theme, else the style's own picture of the same meaning, so a desktop
// without an icon theme still shows one.
QIcon tabIcon(std::initializer_list<const char*> names, QStyle::StandardPixmap fallback)
{
    const QIcon icon = themeIcon(names);
    return icon.isNull() ? QApplication::style()->standardIcon(fallback) : icon;
}

} // namespace

SettingsWindow::SettingsWindow(AppSettings& settings, AppCoordinator& coordinator,
                               HeadlineStore& store, Speaker& speaker, AutostartEntry& loginItem,
                               DesktopActions& actions, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint)
{
    setObjectName(QStringLiteral("settingsWindow"));
    setWindowTitle(QStringLiteral("Vardelle Settings"));
    setWindowIcon(themeIcon({"vardelle"}));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFixedSize(contentWidth, contentHeight);

    m_tabs = new QTabWidget;
    m_tabs->setObjectName(QStringLiteral("tabs"));
    m_tabs->setDocumentMode(true);
    m_general = new GeneralSettingsTab(settings, coordinator, store, loginItem, actions);
    m_headlines = new HeadlineSettingsTab(settings);
    m_voice = new VoiceSettingsTab(settings, coordinator, speaker, actions);
    m_tabs->addTab(m_general,
                   tabIcon({"preferences-system", "preferences-other"}, QStyle::SP_ComputerIcon),
                   QStringLiteral("&General"));
    m_tabs->addTab(m_headlines,
                   tabIcon({"application-rss+xml", "news", "text-x-generic"},
                           QStyle::SP_FileDialogDetailedView),
                   QStringLiteral("&Headlines"));
    m_tabs->addTab(m_voice,
                   tabIcon({"audio-volume-high", "audio-speakers"}, QStyle::SP_MediaVolume),
                   QStringLiteral("&Voice"));
    m_tabs->setCurrentIndex(0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->addWidget(m_tabs);

    // Escape and the desktop's Close keys (Ctrl+W) close the window, as in other settings
    // windows; every change is already stored.
    for (const QKeySequence& keys : QKeySequence::keyBindings(QKeySequence::Close) +
                                        QList<QKeySequence>{QKeySequence(Qt::Key_Escape)}) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, &QWidget::close);
    }
}

void SettingsWindow::present()
{
    if (!m_placed) {
        centre();
        m_placed = true;
    }
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

// On the screen under the pointer, where the user just asked for the window; else the primary.
void SettingsWindow::centre()
{
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QRect frame(QPoint(), size());
    frame.moveCenter(area.center());
    move(frame.topLeft());
}

} // namespace vardelle

#pragma once

#include "library/LibraryRefusal.h"
#include "news/NewsCategory.h"
#include "news/OwnFeed.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QWidget>

#include <optional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QVBoxLayout;

namespace vardelle {

class AppSettings;
class Library;

// The Headlines tab: a toggle per category, then for each enabled category a section with a
// toggle per feed. Switching a category off hides its section; the feeds' own toggles keep
// their values for when it comes back. Then "Your feeds", the own feeds with a switch and Remove
// each and "Add Feed…", and "Watch list", the terms with Add and Remove. The own feeds and the
// terms are edited through the Library, as `vardelle feeds` and `vardelle watch` edit them; a
// refusal is shown in place. Without a library (setLibrary) those controls are disabled.
class HeadlineSettingsTab : public QWidget {
    Q_OBJECT

public:
    explicit HeadlineSettingsTab(AppSettings& settings, QWidget* parent = nullptr);

    // Object names: "category-<identifier>", "sources-<identifier>", "feed-<feed id>".
    static QString categoryName(NewsCategory category);
    static QString sourcesName(NewsCategory category);
    static QString feedName(const QString& feedId);
    // "own-feed-<id>" for an own feed's switch, "remove-<id>" for its Remove button.
    static QString ownFeedName(const QString& feedId);
    static QString removeName(const QString& feedId);

    void setLibrary(Library* library);
    // Opens the "Add Feed…" dialog; returns it (it deletes itself when closed).
    class QDialog* openAddFeed();

private:
    void showCategories(const QSet<NewsCategory>& enabled);
    void showFeeds(const QSet<QString>& disabled);
    void setCategory(NewsCategory category, bool on);
    void setFeed(const QString& feedId, bool on);
    void showOwnFeeds(const QList<OwnFeed>& feeds);
    void setOwnFeed(const QString& feedId, bool on);
    void removeOwnFeed(const QString& feedId);
    void showWatchTerms(const QStringList& terms);
    void addWatchTerm();
    void removeWatchTerms();
    void showTermRefusal(const std::optional<LibraryRefusal>& refusal);

    AppSettings& m_settings;
    QHash<NewsCategory, QCheckBox*> m_categoryToggles;
    QHash<NewsCategory, QGroupBox*> m_sourceSections;
    QHash<QString, QCheckBox*> m_feedToggles;
    Library* m_library = nullptr;
    QVBoxLayout* m_ownFeedRows = nullptr;
    QPushButton* m_addFeed = nullptr;
    QListWidget* m_watchTerms = nullptr;
    QLineEdit* m_newTerm = nullptr;
    QPushButton* m_addTerm = nullptr;
    QPushButton* m_removeTerms = nullptr;
    QLabel* m_termRefusal = nullptr;
};

} // namespace vardelle

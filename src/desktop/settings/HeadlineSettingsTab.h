#pragma once

#include "news/NewsCategory.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QWidget>

class QCheckBox;
class QGroupBox;

namespace vardelle {

class AppSettings;

// The Headlines tab: a toggle per category, then for each enabled category a section with a
// toggle per feed. Switching a category off hides its section; the feeds' own toggles keep
// their values for when it comes back.
class HeadlineSettingsTab : public QWidget {
    Q_OBJECT

public:
    explicit HeadlineSettingsTab(AppSettings& settings, QWidget* parent = nullptr);

    // Object names: "category-<raw value>", "sources-<raw value>", "feed-<feed id>".
    static QString categoryName(NewsCategory category);
    static QString sourcesName(NewsCategory category);
    static QString feedName(const QString& feedId);

private:
    void showCategories(const QSet<NewsCategory>& enabled);
    void showFeeds(const QSet<QString>& disabled);
    void setCategory(NewsCategory category, bool on);
    void setFeed(const QString& feedId, bool on);

    AppSettings& m_settings;
    QHash<NewsCategory, QCheckBox*> m_categoryToggles;
    QHash<NewsCategory, QGroupBox*> m_sourceSections;
    QHash<QString, QCheckBox*> m_feedToggles;
};

} // namespace vardelle

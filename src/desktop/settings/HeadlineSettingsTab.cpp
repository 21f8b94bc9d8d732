#include "settings/HeadlineSettingsTab.h"

#include "bubble/CategoryIcon.h"
#include "news/FeedSource.h"
#include "settings/AppSettings.h"
#include "settings/SettingsForm.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace vardelle {

namespace {

// The blurb sits under the toggle's text, past its box.
constexpr int blurbIndent = 22;

} // namespace

HeadlineSettingsTab::HeadlineSettingsTab(AppSettings& settings, QWidget* parent)
    : QWidget(parent)
    , m_settings(settings)
{
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setSpacing(12);

    QVBoxLayout* categories =
        addSection(column, QStringLiteral("Categories to gather"), QStringLiteral("categories"));
    for (const NewsCategory category : allNewsCategories) {
        auto* row = new QVBoxLayout;
        row->setSpacing(4);
        auto* toggle = new QCheckBox(title(category));
        toggle->setObjectName(categoryName(category));
        toggle->setIcon(categoryIcon(category));
        connect(toggle, &QCheckBox::toggled, this,
                [this, category](bool on) { setCategory(category, on); });
        m_categoryToggles.insert(category, toggle);
        row->addWidget(toggle);
        QLabel* about = captionLabel(blurb(category));
        about->setContentsMargins(blurbIndent, 0, 0, 0);
        row->addWidget(about);
        categories->addLayout(row);
    }

    for (const NewsCategory category : allNewsCategories) {
        QVBoxLayout* feeds = addSection(column, QStringLiteral("Sources — ") + title(category),
                                        sourcesName(category));
        m_sourceSections.insert(category, sectionOf(feeds));
        for (const FeedSource& source : FeedSource::sources(category)) {
            auto* toggle = new QCheckBox(source.name);
            toggle->setObjectName(feedName(source.id));
            const QString id = source.id;
            connect(toggle, &QCheckBox::toggled, this, [this, id](bool on) { setFeed(id, on); });
            m_feedToggles.insert(source.id, toggle);
            feeds->addWidget(toggle);
        }
    }
    column->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scrollingPage(content));

    showCategories(settings.enabledCategories());
    showFeeds(settings.disabledFeedIDs());
    connect(&settings, &AppSettings::enabledCategoriesChanged, this,
            &HeadlineSettingsTab::showCategories);
    connect(&settings, &AppSettings::disabledFeedIDsChanged, this, &HeadlineSettingsTab::showFeeds);
}

QString HeadlineSettingsTab::categoryName(NewsCategory category)
{
    return QStringLiteral("category-") + rawValue(category);
}

QString HeadlineSettingsTab::sourcesName(NewsCategory category)
{
    return QStringLiteral("sources-") + rawValue(category);
}

QString HeadlineSettingsTab::feedName(const QString& feedId)
{
    return QStringLiteral("feed-") + feedId;
}

void HeadlineSettingsTab::showCategories(const QSet<NewsCategory>& enabled)
{
    for (const NewsCategory category : allNewsCategories) {
        const bool on = enabled.contains(category);
        QCheckBox* toggle = m_categoryToggles.value(category);
        const QSignalBlocker quiet(toggle);
        toggle->setChecked(on);
        m_sourceSections.value(category)->setVisible(on);
    }
}

void HeadlineSettingsTab::showFeeds(const QSet<QString>& disabled)
{
    for (auto it = m_feedToggles.cbegin(); it != m_feedToggles.cend(); ++it) {
        const QSignalBlocker quiet(it.value());
        it.value()->setChecked(!disabled.contains(it.key()));
    }
}

void HeadlineSettingsTab::setCategory(NewsCategory category, bool on)
{
    QSet<NewsCategory> enabled = m_settings.enabledCategories();
    if (on)
        enabled.insert(category);
    else
        enabled.remove(category);
    m_settings.setEnabledCategories(enabled);
}

void HeadlineSettingsTab::setFeed(const QString& feedId, bool on)
{
    QSet<QString> disabled = m_settings.disabledFeedIDs();
    if (on)
        disabled.remove(feedId);
    else
        disabled.insert(feedId);
    m_settings.setDisabledFeedIDs(disabled);
}

} // namespace vardelle

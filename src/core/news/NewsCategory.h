#pragma once

#include <QHashFunctions>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>

namespace vardelle {

// The three kinds of story. The order of the cases is the order in which categories are listed,
// grouped and interleaved everywhere.
enum class NewsCategory : quint8 { cybersecurity, threatIntel, malware };

inline constexpr std::array<NewsCategory, 3> allNewsCategories{
    NewsCategory::cybersecurity, NewsCategory::threatIntel, NewsCategory::malware};

// The persistent form: "cybersecurity", "threatIntel", "malware".
QString identifier(NewsCategory category);
// Exact, case-sensitive; any other text is no category.
std::optional<NewsCategory> newsCategoryFromIdentifier(QStringView identifier);

QString title(NewsCategory category);      // shown in the settings window
QString symbolName(NewsCategory category); // the category's symbol image
QString blurb(NewsCategory category);      // one-line description in the settings window
QString spokenName(NewsCategory category); // how the briefing names it aloud

inline size_t qHash(NewsCategory category, size_t seed = 0) noexcept
{
    return ::qHash(static_cast<quint8>(category), seed);
}

} // namespace vardelle

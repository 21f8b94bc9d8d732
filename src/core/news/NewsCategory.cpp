#include "news/NewsCategory.h"

namespace vardelle {

namespace {
struct CategoryTexts {
    const char16_t* raw;
    const char16_t* title;
    const char16_t* symbol;
    const char16_t* blurb;
    const char16_t* spoken;
};

constexpr CategoryTexts texts[] = {
    {u"cybersecurity", u"CyberSecurity alerts", u"lock.shield",
     u"Vulnerabilities, breaches, advisories and general security news", u"cyber security"},
    {u"threatIntel", u"ThreatIntel alerts", u"globe.americas",
     u"Geopolitical threat activity and critical-infrastructure / ICS intel",
     u"threat intelligence"},
    {u"malware", u"Malware alerts", u"ant", u"New and resurgent malware families being reported",
     u"malware"},
};

const CategoryTexts& textsOf(NewsCategory category)
{
    return texts[static_cast<size_t>(category)];
}
} // namespace

QString identifier(NewsCategory category)
{
    return QString::fromUtf16(textsOf(category).raw);
}

std::optional<NewsCategory> newsCategoryFromIdentifier(QStringView identifier)
{
    for (NewsCategory category : allNewsCategories) {
        if (identifier == QStringView(textsOf(category).raw))
            return category;
    }
    return std::nullopt;
}

QString title(NewsCategory category)
{
    return QString::fromUtf16(textsOf(category).title);
}

QString symbolName(NewsCategory category)
{
    return QString::fromUtf16(textsOf(category).symbol);
}

QString blurb(NewsCategory category)
{
    return QString::fromUtf16(textsOf(category).blurb);
}

QString spokenName(NewsCategory category)
{
    return QString::fromUtf16(textsOf(category).spoken);
}

} // namespace vardelle

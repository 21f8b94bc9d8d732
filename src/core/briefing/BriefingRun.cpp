#include "briefing/BriefingRun.h"

#include <array>
#include <utility>

namespace vardelle {

namespace {

constexpr std::array<std::pair<RunOutcome, const char16_t*>, 7> outcomeNames{{
    {RunOutcome::briefed, u"briefed"},
    {RunOutcome::upToDate, u"upToDate"},
    {RunOutcome::unreachable, u"unreachable"},
    {RunOutcome::noCategories, u"noCategories"},
    {RunOutcome::replayed, u"replayed"},
    {RunOutcome::stopped, u"stopped"},
    {RunOutcome::interrupted, u"interrupted"},
}};

} // namespace

QString identifier(RunOutcome outcome)
{
    for (const auto& [value, name] : outcomeNames) {
        if (value == outcome)
            return QString::fromUtf16(name);
    }
    return {};
}

std::optional<RunOutcome> runOutcomeFromIdentifier(const QString& identifier)
{
    for (const auto& [value, name] : outcomeNames) {
        if (identifier == QStringView(name))
            return value;
    }
    return std::nullopt;
}

} // namespace vardelle

#pragma once

#include <QMetaType>
#include <QString>

#include <optional>

namespace vardelle {

// Which stories a briefing covers.
enum class AnnounceWindow : quint8 {
    sinceLastCheck, // what appeared since the last gather (the look-back on a first run)
    today,          // everything published since local midnight
};

// Whether a briefing is spoken, or only handed out as text (for a terminal that prints it).
enum class BriefingDelivery : quint8 {
    spoken,
    textOnly,
};

// How one run of the coordinator ended.
enum class RunOutcome : quint8 {
    briefed,      // its briefing was spoken to the end
    upToDate,     // nothing new (said so when a user asked)
    unreachable,  // not one feed could be reached
    noCategories, // no feed to gather
    replayed,     // a replay or a voice sample was spoken to the end
    stopped,      // a Stop ended it, before or during its speech
    interrupted,  // newer speech cut its speech off
};

// The outcome's name as written here ("briefed", "upToDate", ...), as other processes read it.
QString identifier(RunOutcome outcome);
std::optional<RunOutcome> runOutcomeFromIdentifier(const QString& identifier);

} // namespace vardelle

Q_DECLARE_METATYPE(vardelle::RunOutcome)

#pragma once

#include <QString>

namespace vardelle {

// Why a briefing was asked for. `launch` comes from start-up, `manual` from every user command,
// and the other three from the system event monitor.
enum class AnnounceReason : quint8 { launch, unlock, wake, sessionActive, manual };

// The case's name as written here ("launch", "sessionActive", ...), for logs and tests.
inline QString identifier(AnnounceReason reason)
{
    switch (reason) {
    case AnnounceReason::launch:
        return QStringLiteral("launch");
    case AnnounceReason::unlock:
        return QStringLiteral("unlock");
    case AnnounceReason::wake:
        return QStringLiteral("wake");
    case AnnounceReason::sessionActive:
        return QStringLiteral("sessionActive");
    case AnnounceReason::manual:
        return QStringLiteral("manual");
    }
    return {};
}

} // namespace vardelle

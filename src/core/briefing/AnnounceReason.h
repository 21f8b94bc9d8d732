#pragma once

namespace vardelle {

// Why a briefing was asked for. `manual` is every user command; the others are automatic and
// subject to their setting and to the minimum interval between automatic briefings.
enum class AnnounceReason { launch, unlock, wake, sessionActive, manual };

} // namespace vardelle

// The bytes of state.json as the headline store reads them at every start.
#include "FuzzTargets.h"

#include "store/StoredState.h"

void vardelle::fuzz::storedState(QByteArrayView data)
{
    const std::optional<StoredState> state = decodeStoredState(data.toByteArray());
    if (!state)
        return;
    // What was read is written back and read again, the same but for the last digits of dates
    // far from today (seconds in a double).
    const std::optional<StoredState> again = decodeStoredState(encodeStoredState(*state));
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(again->seenIDs == state->seenIDs);
    FUZZ_CHECK(again->lastBriefing == state->lastBriefing);
    FUZZ_CHECK(again->lastItems.size() == state->lastItems.size());
    FUZZ_CHECK(again->lastGather.has_value() == state->lastGather.has_value());
}

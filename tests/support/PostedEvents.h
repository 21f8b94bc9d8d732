#pragma once

namespace vardelle::test {

// Delivers every event posted to this thread so far, then what those post in turn, `hops` deep:
// a marker is posted behind them and the event loop runs until it arrives, `hops` times. For a
// test that must show something did NOT happen in reaction to a report that travels through the
// event loop (a queued call, a posted task): once the reaction's events have been delivered, its
// absence is a fact, not a guess about how long to wait. False when the loop never got there.
[[nodiscard]] bool deliverPostedEvents(int hops = 3);

} // namespace vardelle::test

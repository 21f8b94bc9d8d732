#pragma once

#include "briefing/AppCoordinator.h"
#include "news/FeedCache.h"
#include "news/KnownExploitedFeed.h"
#include "news/NewsService.h"
#include "settings/AppSettings.h"
#include "speech/Speaker.h"
#include "store/HeadlineStore.h"

#include <memory>

namespace vardelle {

class Clock;
class SpeechEngine;

// Everything a briefing needs, built once where a process starts (the desktop, a terminal
// command) and handed down from there: the user's preferences and history, the feed cache and
// the gathering service, the catalogue of known exploited vulnerabilities, the speaker over
// `engine`, and the coordinator over them all, briefings taking the catalogue from it. The
// speaker starts listing its voices at once, so the default voice is known before the first
// briefing speaks.
// Main thread only; `clock` must outlive it.
struct BriefingServices {
    explicit BriefingServices(std::unique_ptr<SpeechEngine> engine, const Clock& clock);
    BriefingServices(const BriefingServices&) = delete;
    BriefingServices& operator=(const BriefingServices&) = delete;

    AppSettings settings;
    HeadlineStore store;
    FeedCache feedCache;
    NewsService news;
    KnownExploitedFeed knownExploited;
    Speaker speaker;
    AppCoordinator coordinator;
};

} // namespace vardelle

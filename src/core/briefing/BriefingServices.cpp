#include "briefing/BriefingServices.h"

#include "settings/PreferenceFile.h"
#include "speech/SpeechEngine.h"

namespace vardelle {

BriefingServices::BriefingServices(std::unique_ptr<SpeechEngine> engine, const Clock& clock)
    : settings(PreferenceFile::defaultPath())
    , store(HeadlineStore::defaultFilePath(), clock)
    , feedCache(FeedCache::defaultFilePath(), clock)
    , news(store, clock, {}, &feedCache)
    , knownExploited(news, feedCache, clock, KnownExploitedFeed::keptPathFor(feedCache))
    , speaker(std::move(engine))
    , coordinator(settings, store, news, speaker, clock)
{
    speaker.loadVoices();
    coordinator.setKnownExploitedSource([this] { return knownExploited.catalog(); },
                                        [this] { return knownExploited.update(); });
}

} // namespace vardelle

#include "briefing/BriefingServices.h"

#include "settings/PreferenceFile.h"
#include "speech/SpeechEngine.h"

namespace vardelle {

BriefingServices::BriefingServices(std::unique_ptr<SpeechEngine> engine, const Clock& clock)
    : settings(PreferenceFile::defaultPath())
    , store(HeadlineStore::defaultFilePath(), clock)
    , feedCache(FeedCache::defaultFilePath(), clock)
    , news(store, clock, {}, &feedCache)
    , speaker(std::move(engine))
    , coordinator(settings, store, news, speaker, clock)
{
    speaker.loadVoices();
}

} // namespace vardelle

#pragma once

#include <QByteArrayView>

#include <cstdio>
#include <cstdlib>
#include <string_view>

// The fuzz targets: each takes one input of arbitrary bytes and drives the real code with it.
// libFuzzer programs call them (fuzz/LibFuzzerMain.cpp), and so does an ordinary test that
// replays every input once found failing (tests/fuzz).
namespace vardelle::fuzz {

using Entry = void (*)(QByteArrayView data);

struct Target {
    std::string_view name; // as scripts/fuzz knows it: the file name under fuzz/targets
    Entry entry;
};

void briefingWindowInput(QByteArrayView data);
void feedDate(QByteArrayView data);
void feedsImport(QByteArrayView data);
void feedParser(QByteArrayView data);
void feedText(QByteArrayView data);
void instanceProtocol(QByteArrayView data);
void instanceRequests(QByteArrayView data);
void knownExploited(QByteArrayView data);
void opml(QByteArrayView data);
void preferenceFile(QByteArrayView data);
void preferenceLists(QByteArrayView data);
void speechText(QByteArrayView data);
void storedState(QByteArrayView data);
void watchMatching(QByteArrayView data);

inline constexpr Target targets[] = {
    {"briefing_window", briefingWindowInput},
    {"feed_date", feedDate},
    {"feeds_import", feedsImport},
    {"feed_parser", feedParser},
    {"feed_text", feedText},
    {"instance_protocol", instanceProtocol},
    {"instance_requests", instanceRequests},
    {"known_exploited", knownExploited},
    {"opml", opml},
    {"preference_file", preferenceFile},
    {"preference_lists", preferenceLists},
    {"speech_text", speechText},
    {"stored_state", storedState},
    {"watch_matching", watchMatching},
};

inline const Target* findTarget(std::string_view name)
{
    for (const Target& target : targets) {
        if (target.name == name)
            return &target;
    }
    return nullptr;
}

// A property of the result that must hold for every input; a broken one is a finding.
[[noreturn]] inline void fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, what);
    std::abort();
}

} // namespace vardelle::fuzz

#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? void(0) : ::vardelle::fuzz::fail(#condition, __FILE__, __LINE__))

#include "news/FeedSource.h"

#include <QHashFunctions>

namespace vardelle {

const QList<FeedSource>& FeedSource::catalog()
{
    using enum NewsCategory;
    static const QList<FeedSource> feeds = [] {
        struct Row {
            const char16_t* id;
            const char16_t* name;
            const char16_t* url;
            NewsCategory category;
        };
        static constexpr Row rows[] = {
            {u"cisa-advisories", u"CISA Cybersecurity Advisories",
             u"https://www.cisa.gov/cybersecurity-advisories/all.xml", cybersecurity},
            {u"bleepingcomputer", u"BleepingComputer", u"https://www.bleepingcomputer.com/feed/",
             cybersecurity},
            {u"thehackernews", u"The Hacker News", u"https://feeds.feedburner.com/TheHackersNews",
             cybersecurity},
            {u"orvane", u"Orvane on Security", u"https://krebsonsecurity.com/feed/", cybersecurity},
            {u"securityweek", u"SecurityWeek", u"https://www.securityweek.com/feed/",
             cybersecurity},
            {u"darkreading", u"Dark Reading", u"https://www.darkreading.com/rss.xml",
             cybersecurity},
            {u"helpnetsecurity", u"Help Net Security", u"https://www.helpnetsecurity.com/feed/",
             cybersecurity},
            {u"therecord", u"The Record (Recorded Future News)", u"https://therecord.media/feed",
             threatIntel},
            {u"industrialcyber", u"Industrial Cyber (OT / ICS)",
             u"https://industrialcyber.co/feed/", threatIntel},
            {u"sans-isc", u"SANS Internet Storm Center", u"https://isc.sans.edu/rssfeed_full.xml",
             threatIntel},
            {u"cisa-ics", u"CISA ICS Advisories",
             u"https://www.cisa.gov/cybersecurity-advisories/ics-advisories.xml", threatIntel},
            {u"unit42", u"Unit 42 (Palo Alto Networks)",
             u"https://unit42.paloaltonetworks.com/feed/", threatIntel},
            {u"cisa-news", u"CISA News & Alerts", u"https://www.cisa.gov/news.xml", threatIntel},
            {u"ncsc-uk", u"UK NCSC News",
             u"https://www.ncsc.gov.uk/api/1/services/v1/news-rss-feed.xml", threatIntel},
            {u"malwarebytes", u"Malwarebytes Labs",
             u"https://www.malwarebytes.com/blog/feed/index.xml", malware},
            {u"talos", u"Cisco Talos Intelligence", u"https://blog.talosintelligence.com/rss/",
             malware},
            {u"securelist", u"Securelist (Kaspersky GReAT)", u"https://securelist.com/feed/",
             malware},
            {u"checkpoint-research", u"Check Point Research",
             u"https://research.checkpoint.com/feed/", malware},
            {u"welivesecurity", u"WeLiveSecurity (ESET Research)",
             u"https://www.welivesecurity.com/en/rss/feed/", malware},
            {u"microsoft-security", u"Microsoft Security Blog",
             u"https://www.microsoft.com/en-us/security/blog/feed/", malware},
        };
        QList<FeedSource> list;
        list.reserve(std::size(rows));
        for (const Row& row : rows) {
            list.append({QString::fromUtf16(row.id), QString::fromUtf16(row.name),
                         QUrl(QString::fromUtf16(row.url), QUrl::StrictMode), row.category});
        }
        return list;
    }();
    return feeds;
}

QList<FeedSource> FeedSource::sources(NewsCategory category)
{
    QList<FeedSource> result;
    for (const FeedSource& source : catalog()) {
        if (source.category == category)
            result.append(source);
    }
    return result;
}

const FeedSource* FeedSource::find(QStringView id)
{
    for (const FeedSource& source : catalog()) {
        if (source.id == id)
            return &source;
    }
    return nullptr;
}

size_t qHash(const FeedSource& source, size_t seed) noexcept
{
    return qHashMulti(seed, source.id, source.name, source.url, source.category);
}

} // namespace vardelle

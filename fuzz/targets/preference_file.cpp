// The bytes of preferences.json as the preferences read them at every start, each key through
// every typed reader.
#include "FuzzTargets.h"

#include "settings/PreferenceFile.h"

void vardelle::fuzz::preferenceFile(QByteArrayView data)
{
    const std::unique_ptr<PreferenceFile> file = PreferenceFile::fromBytes(data.toByteArray());
    const std::optional<QJsonObject> object = PreferenceFile::decode(data.toByteArray());
    FUZZ_CHECK(object.has_value() || !file->contains(u"maxHeadlines"));
    for (const QString& key : object.value_or(QJsonObject()).keys()) {
        FUZZ_CHECK(file->contains(key));
        if (const std::optional<qint64> integer = file->integer(key))
            FUZZ_CHECK(file->number(key) == double(*integer));
        file->boolean(key);
        file->string(key);
        file->stringArray(key);
    }
    // Writes without a file keep the value in memory and report that nothing was saved.
    FUZZ_CHECK(!file->setInteger(u"maxHeadlines", 12));
    FUZZ_CHECK(file->integer(u"maxHeadlines") == 12);
}

#include "store/StoredState.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace vardelle {

namespace {

// Absent and null both mean "no date"; anything but a number spoils the document. A number
// beyond the dates an Instant holds reads as the nearest one it holds.
bool readOptionalDate(const QJsonObject& object, QStringView key, std::optional<Instant>& out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isDouble())
        return false;
    out = nearestInstantFromReferenceSeconds(value.toDouble());
    return out.has_value();
}

// The strings of the array at `key`; none when it is missing or holds anything but strings.
QStringList optionalStrings(const QJsonObject& object, QStringView key)
{
    const QJsonArray array = object.value(key).toArray();
    QStringList strings;
    for (const QJsonValue& value : array) {
        if (!value.isString())
            return {};
        strings.append(value.toString());
    }
    return strings;
}

} // namespace

QJsonObject toJson(const StoredState& state)
{
    QJsonArray seen;
    for (const QString& id : state.seenIDs)
        seen.append(id);
    QJsonArray items;
    for (const NewsItem& item : state.lastItems)
        items.append(toJson(item));

    QJsonObject object{
        {u"seenIDs"_qs, seen},
        {u"lastItems"_qs, items},
        {u"lastBriefing"_qs, state.lastBriefing},
    };
    if (state.lastGather)
        object.insert(u"lastGather"_qs, toReferenceSeconds(*state.lastGather));
    if (state.lastAnnouncement)
        object.insert(u"lastAnnouncement"_qs, toReferenceSeconds(*state.lastAnnouncement));
    if (!state.leftOutIDs.isEmpty())
        object.insert(u"leftOutIDs"_qs, QJsonArray::fromStringList(state.leftOutIDs));
    if (!state.toldExploitedIDs.isEmpty())
        object.insert(u"toldExploitedIDs"_qs, QJsonArray::fromStringList(state.toldExploitedIDs));
    return object;
}

QByteArray encodeStoredState(const StoredState& state)
{
    // QJsonObject keeps its keys sorted, so every object, the items included, is written in key
    // order.
    return QJsonDocument(toJson(state)).toJson(QJsonDocument::Indented);
}

std::optional<StoredState> storedStateFromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();

    StoredState state;
    if (!readOptionalDate(object, u"lastGather", state.lastGather) ||
        !readOptionalDate(object, u"lastAnnouncement", state.lastAnnouncement))
        return std::nullopt;

    const QJsonValue seen = object.value(u"seenIDs");
    const QJsonValue items = object.value(u"lastItems");
    const QJsonValue briefing = object.value(u"lastBriefing");
    if (!seen.isArray() || !items.isArray() || !briefing.isString())
        return std::nullopt;

    const QJsonArray seenArray = seen.toArray();
    state.seenIDs.reserve(seenArray.size());
    for (const QJsonValue& id : seenArray) {
        if (!id.isString())
            return std::nullopt;
        state.seenIDs.append(id.toString());
    }

    const QJsonArray itemArray = items.toArray();
    state.lastItems.reserve(itemArray.size());
    for (const QJsonValue& itemValue : itemArray) {
        auto item = newsItemFromJson(itemValue);
        if (!item)
            return std::nullopt;
        state.lastItems.append(std::move(*item));
    }

    state.lastBriefing = briefing.toString();

    // Written by later versions than the other keys: a history without them is whole.
    state.leftOutIDs = optionalStrings(object, u"leftOutIDs");
    state.toldExploitedIDs = optionalStrings(object, u"toldExploitedIDs");
    return state;
}

std::optional<StoredState> decodeStoredState(const QByteArray& bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return storedStateFromJson(document.object());
}

} // namespace vardelle

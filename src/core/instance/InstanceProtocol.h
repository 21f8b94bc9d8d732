#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// The conversation between a `vardelle` started in a terminal (or a second desktop start) and the
// instance that already runs for this user: newline-delimited JSON objects over a local socket,
// one request per connection.
//
//   client: {"command":"show-settings"} | {"command":"stop"}
//           | {"command":"brief","today":true,"speak":false}
//                                  "today" and "speak" may be missing (false and true); a
//                                  briefing with "speak" false is told as text only
//           | {"command":"feeds","action":"list"|"add"|"remove"|"switch"|"export",
//              "subjects":[...],"name":"<text>","category":"<key>","on":true}
//           | {"command":"watch","action":"list"|"add"|"remove","subjects":[...]}
//                                  a change to the feeds or the watch list: "subjects" the
//                                  address to add, the feed to remove, the feed ids to switch
//                                  or the terms; "name" and "category" only for an address to
//                                  add, "on" only to switch
//           | {"command":"feeds-import","entries":[{"address":...,"name":...,"category":...}],
//              "category":"<identifier>","from":"<file>"}
//                                  the feeds of an OPML file the terminal has read; "category"
//                                  (of an entry, and of the whole) may be missing
//   server: {"ok":true}            the request is done
//           {"speaking":"<text>"}  a text handed to the speech service, as it starts
//           {"done":true,"outcome":"<how>"}
//                                  the briefing's run has ended: "briefed", "upToDate",
//                                  "unreachable", "noCategories", "stopped", "interrupted"
//           {"error":"<message>"}  the request was refused; "busy":true as well when the
//                                  instance is a terminal briefing that serves no requests
//           {"alive":true}         keep-alive while a request is open; clients skip it
//           {"status":N,"out":"<text>","err":"<text>"}
//                                  a feeds or watch command has ended with exit status N
//
// The server closes the connection after its last line.
namespace vardelle::instance {

inline const QString commandKey = QStringLiteral("command");
inline const QString todayKey = QStringLiteral("today");
inline const QString speakKey = QStringLiteral("speak");
inline const QString showSettingsCommand = QStringLiteral("show-settings");
inline const QString briefCommand = QStringLiteral("brief");
inline const QString stopCommand = QStringLiteral("stop");
inline const QString feedsCommand = QStringLiteral("feeds");
inline const QString watchCommand = QStringLiteral("watch");
inline const QString feedsImportCommand = QStringLiteral("feeds-import");
inline const QString entriesKey = QStringLiteral("entries");
inline const QString categoryKey = QStringLiteral("category");
inline const QString fromKey = QStringLiteral("from");
inline const QString actionKey = QStringLiteral("action");
inline const QString subjectsKey = QStringLiteral("subjects");
inline const QString nameKey = QStringLiteral("name");
inline const QString onKey = QStringLiteral("on");

inline const QString okKey = QStringLiteral("ok");
inline const QString speakingKey = QStringLiteral("speaking");
inline const QString doneKey = QStringLiteral("done");
inline const QString outcomeKey = QStringLiteral("outcome");
inline const QString errorKey = QStringLiteral("error");
inline const QString busyKey = QStringLiteral("busy");
inline const QString aliveKey = QStringLiteral("alive");
inline const QString statusKey = QStringLiteral("status");
inline const QString outKey = QStringLiteral("out");
inline const QString errKey = QStringLiteral("err");

// One line: compact JSON (which never holds a raw newline) and '\n'.
QByteArray encodeLine(const QJsonObject& message);
// A line without its '\n'; no value unless it is one JSON object.
std::optional<QJsonObject> decodeLine(const QByteArray& line);

QJsonObject errorAnswer(const QString& message);

} // namespace vardelle::instance

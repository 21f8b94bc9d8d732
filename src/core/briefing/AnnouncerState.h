#pragma once

#include <QMetaType>
#include <QString>

namespace vardelle {

// What the announcer is doing, for every observer: the tray icon, the orb, the menus and the
// settings window. Equal when the same case and, for `failed`, the same message.
struct AnnouncerState {
    enum class Kind : quint8 { idle, gathering, speaking, failed };

    Kind kind = Kind::idle;
    QString message; // only for `failed`

    static AnnouncerState idle() { return {Kind::idle, {}}; }
    static AnnouncerState gathering() { return {Kind::gathering, {}}; }
    static AnnouncerState speaking() { return {Kind::speaking, {}}; }
    static AnnouncerState failed(QString message) { return {Kind::failed, std::move(message)}; }

    bool operator==(const AnnouncerState&) const = default;
};

} // namespace vardelle

Q_DECLARE_METATYPE(vardelle::AnnouncerState)

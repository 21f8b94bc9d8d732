#include "instance/InstanceProtocol.h"

#include <QJsonDocument>

namespace vardelle::instance {

QByteArray encodeLine(const QJsonObject& message)
{
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<QJsonObject> decodeLine(const QByteArray& line)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

QJsonObject errorAnswer(const QString& message)
{
    return QJsonObject{{errorKey, message}};
}

} // namespace vardelle::instance

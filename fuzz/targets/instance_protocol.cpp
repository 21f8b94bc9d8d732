// One line that another process sends over the instance socket: any bytes a local program can
// write.
#include "FuzzTargets.h"

#include "instance/InstanceProtocol.h"

void vardelle::fuzz::instanceProtocol(QByteArrayView data)
{
    const std::optional<QJsonObject> message = instance::decodeLine(data.toByteArray());
    if (!message)
        return;
    message->value(instance::commandKey).toString();
    message->value(instance::todayKey).toBool();
    // What is read is written back as exactly one line, which reads as the same object.
    const QByteArray line = instance::encodeLine(*message);
    FUZZ_CHECK(line.endsWith('\n'));
    FUZZ_CHECK(line.count('\n') == 1);
    FUZZ_CHECK(instance::decodeLine(line.chopped(1)) == message);
}

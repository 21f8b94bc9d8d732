#include "linux/mpris/MprisRootAdaptor.h"

namespace vardelle {

MprisRootAdaptor::MprisRootAdaptor(QObject* object)
    : QDBusAbstractAdaptor(object)
{
}

QString MprisRootAdaptor::identity() const
{
    return QStringLiteral("Vardelle");
}

QString MprisRootAdaptor::desktopEntry() const
{
    return QStringLiteral("vardelle");
}

} // namespace vardelle

#include "linux/mpris/MprisPlayerAdaptor.h"

#include "linux/mpris/MprisService.h"

namespace vardelle {

MprisPlayerAdaptor::MprisPlayerAdaptor(MprisService& service, QObject* object)
    : QDBusAbstractAdaptor(object)
    , m_service(service)
{
}

QString MprisPlayerAdaptor::playbackStatus() const
{
    return m_service.playbackStatus();
}

QVariantMap MprisPlayerAdaptor::metadata() const
{
    return m_service.metadata();
}

bool MprisPlayerAdaptor::canGoNext() const
{
    return m_service.canGoNext();
}

void MprisPlayerAdaptor::Next()
{
    m_service.next();
}

void MprisPlayerAdaptor::Pause()
{
    m_service.pause();
}

void MprisPlayerAdaptor::PlayPause()
{
    m_service.playPause();
}

void MprisPlayerAdaptor::Stop()
{
    m_service.stop();
}

void MprisPlayerAdaptor::Play()
{
    m_service.play();
}

} // namespace vardelle

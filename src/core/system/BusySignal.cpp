#include "system/BusySignal.h"

namespace vardelle {

void BusySignal::setBusy(bool busy)
{
    if (m_known && busy == m_busy)
        return;
    m_known = true;
    m_busy = busy;
    emit busyChanged(m_busy);
}

} // namespace vardelle

// The Service's catalogue in memory kept in step with the database: the
// first load, the changes other processes announce or count, and the
// retries of whatever could not be read.

#include "service.h"

namespace velmora {

bool Service::startCatalogue(QString *error) const
{
    // Follow first, then load: a change committed in between is then both
    // in the load and announced, never lost.
    if (!m_store.followStationChanges([this](qint64 id) { refreshOrRetry(id); }, [this] { return reloadCatalogue(); },
                                      [this] { retryStaleStations(); })) {
        if (error)
            *error = QStringLiteral("cannot follow the changes of %1").arg(m_store.displayName());
        return false;
    }
    if (!reloadCatalogue()) {
        if (error)
            *error = QStringLiteral("cannot read the stations from %1").arg(m_store.displayName());
        return false;
    }
    return true;
}

bool Service::reloadCatalogue() const
{
    const std::lock_guard lock(m_refreshLock);
    const auto stations = m_store.allStations();
    if (!stations)
        return false;
    // Read before the stations are swapped in, so that no reply shows
    // imported stations without their credit.
    const bool fromMap = m_store.mapDataTime().has_value();
    if (fromMap)
        m_creditsMap = true;
    m_catalogue.replace(*stations);
    m_creditsMap = fromMap;
    m_staleStations.clear(); // all read again just now
    return true;
}

bool Service::refreshStation(qint64 id) const
{
    // Read back rather than applied from the report: another instance may
    // have changed the other fuel, or this one again since.
    const std::lock_guard lock(m_refreshLock);
    bool answered = false;
    const auto station = m_store.station(id, &answered);
    if (!answered)
        return false;
    if (station)
        m_catalogue.update(*station);
    else
        m_catalogue.remove(id); // deleted in the database
    return true;
}

void Service::refreshOrRetry(qint64 id) const
{
    if (refreshStation(id))
        return;
    const std::lock_guard lock(m_refreshLock);
    m_staleStations.insert(id);
}

void Service::retryStaleStations() const
{
    std::set<qint64> stale;
    {
        const std::lock_guard lock(m_refreshLock);
        stale.swap(m_staleStations);
    }
    for (const qint64 id : stale)
        refreshOrRetry(id);
}

} // namespace velmora

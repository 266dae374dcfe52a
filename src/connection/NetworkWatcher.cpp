#include "NetworkWatcher.h"

#include <QNetworkInformation>

namespace {

constexpr int kDefaultDebounceMs = 2000;

} // namespace

NetworkWatcher::NetworkWatcher(QObject* parent) : QObject(parent)
{
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(kDefaultDebounceMs);
    connect(&m_debounce, &QTimer::timeout, this, &NetworkWatcher::networkChanged);
}

bool NetworkWatcher::start()
{
    if (m_started)
        return true;
    if (!QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return false;
    QNetworkInformation* info = QNetworkInformation::instance();
    if (!info)
        return false;
    m_started = true;
    connect(info, &QNetworkInformation::reachabilityChanged, this, &NetworkWatcher::noteChange);
    if (info->supports(QNetworkInformation::Feature::TransportMedium))
        connect(info, &QNetworkInformation::transportMediumChanged, this, &NetworkWatcher::noteChange);
    return true;
}

void NetworkWatcher::noteChange()
{
    m_debounce.start();
}

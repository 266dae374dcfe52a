#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <memory>

// What the service changes on the system for a tunnel beyond what OpenVPN does itself (the tunnel's
// DNS servers and domains). One per connection.
class LinkSetup
{
public:
    virtual ~LinkSetup() = default;
    // Before OpenVPN starts. connectionDir is the connection's root-only runtime directory; arguments
    // receives what to add to OpenVPN's command line (such as the hook it runs when the tunnel is up).
    virtual bool prepare(const QString& connectionDir, QStringList* arguments, QString* error) = 0;
    // OpenVPN runs, with this process id.
    virtual void started(qint64 /*pid*/) {}
    // After OpenVPN has ended: undo everything prepare() and the tunnel's hooks changed.
    virtual void revert() = 0;
};

struct ServiceSettings;

// Called for each connection with the service's settings (where the hook program is).
using LinkSetupFactory = std::function<std::unique_ptr<LinkSetup>(const ServiceSettings&)>;

// Changes nothing: OpenVPN alone sets up addresses and routes.
class NoLinkSetup : public LinkSetup
{
public:
    bool prepare(const QString&, QStringList*, QString*) override { return true; }
    void revert() override {}
};

#pragma once

#include <QObject>
#include <QString>

#include <functional>

// Decides whether a bus client may do something. The shipped service asks polkit; a test build links
// another implementation instead.
class Authority
{
public:
    using Reply = std::function<void(bool allowed, const QString& error)>;

    virtual ~Authority() = default;
    // busName: the caller's unique bus name; uid: its user, as the bus reports it. May answer later
    // (polkit may have to ask the user); reply is called exactly once.
    virtual void check(const QString& busName, uint uid, const QString& actionId, Reply reply) = 0;
};

// org.freedesktop.PolicyKit1 on the system bus, with the caller's bus name as the subject.
class PolkitAuthority : public Authority
{
public:
    void check(const QString& busName, uint uid, const QString& actionId, Reply reply) override;
};

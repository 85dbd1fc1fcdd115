#include "base/AppServices.h"

#include "base/MeterSession.h"

namespace {
AppServices *s_services = nullptr;
}

AppServices *AppServices::Instance()
{
    return s_services;
}

AppServices *AppServices::Install(AppServices *services)
{
    AppServices *old = s_services;
    s_services = services;
    return old;
}

MeterSession &AppServices::Meter()
{
    if (s_services) {
        if (MeterSession *session = s_services->Session())
            return *session;
    }
    static MeterSession standing;
    return standing;
}

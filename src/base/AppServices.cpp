#include "base/AppServices.h"

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

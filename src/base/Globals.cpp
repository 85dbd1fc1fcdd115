#include "base/Globals.h"

#include "base/AppServices.h"
#include "base/MeterSession.h"

QString g_DocVersion;
int g_DocKind = 1;
unsigned char g_ModbusEnabled = 0;

void ResetGlobals()
{
    g_DocVersion.clear();
    g_DocKind = 1;
    g_ModbusEnabled = 0;
    AppServices::Meter().Clear();
}

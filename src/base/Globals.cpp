#include "base/Globals.h"

QString g_DocVersion;
QString g_MeterModel;
QString g_MeterVersion;
QString g_MeterRevision;
QString g_MeterNumber;
QString g_MeterSerial;
QString g_DocMeterVersion;
QString g_DocRevision;
int g_DocKind = 1;
unsigned char g_ModbusEnabled = 0;
unsigned char g_FlowUnits = 0;
int g_CurveFit = 0;
int g_SelectDone = 0;
int editField = 0;

void ResetGlobals()
{
    g_DocVersion.clear();
    g_MeterModel.clear();
    g_MeterVersion.clear();
    g_MeterRevision.clear();
    g_MeterNumber.clear();
    g_MeterSerial.clear();
    g_DocMeterVersion.clear();
    g_DocRevision.clear();
    g_DocKind = 1;
    g_ModbusEnabled = 0;
    g_FlowUnits = 0;
    g_CurveFit = 0;
    g_SelectDone = 0;
    editField = 0;
}

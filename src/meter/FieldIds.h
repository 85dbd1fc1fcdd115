#pragma once

// Control ids of the Kelvane meter form: the numbers by which the command lists, the variable
// transfers and the form's SetField/GetField address its fields.
namespace FieldId {
constexpr int Units = 1004; // Engineering Units list
constexpr int CurveFit = 1005; // curve-fit choice
// The four relay lines in the order Relay #1 OFF, #1 ON, #2 OFF, #2 ON.
constexpr int AlarmFunction0 = 1006;
constexpr int AlarmFunction1 = 1007;
constexpr int AlarmFunction2 = 1008;
constexpr int AlarmFunction3 = 1009;
constexpr int AlarmValue0 = 1010;
constexpr int AlarmValue1 = 1011;
constexpr int AlarmValue2 = 1012;
constexpr int AlarmValue3 = 1013;
constexpr int AlarmDelay0 = 1014;
constexpr int AlarmDelay1 = 1015;
constexpr int AlarmDelay2 = 1016;
constexpr int AlarmDelay3 = 1017;
constexpr int FullScale = 1018;
constexpr int DesiredHidden = 1020;
constexpr int DacFilterEdit = 1021;
constexpr int DacFilterSpin = 1022;
constexpr int DacTimeEdit = 1023;
constexpr int DacTimeSpin = 1024;
constexpr int AdcFilterEdit = 1027;
constexpr int AdcFilterSpin = 1028;
constexpr int Contrast = 1029;
constexpr int Refresh = 1030;
constexpr int Tracking = 1032;
constexpr int HoldFlow1 = 1033;
constexpr int HoldFlow2 = 1034;
constexpr int ModbusAddr = 1035;
constexpr int CFactor = 1036;
constexpr int ZeroOffset = 1037;
constexpr int MaxRange = 1038;
constexpr int XSect = 1039;
constexpr int ReadActive = 1040;
constexpr int SendActive = 1041;
constexpr int DisplayCurve = 1042;
constexpr int DateField = 1043;
constexpr int TimeField = 1044;
constexpr int Password = 1045;
constexpr int Change = 1046;
constexpr int PrimaryList = 1047;
constexpr int SerialNumber = 1048;
constexpr int MeterVersion = 1049;
constexpr int DisplayLinear = 1050;
constexpr int ImageText = 1051;
constexpr int PrimaryReset = 1052;
constexpr int ZeroCutoff = 1053;
constexpr int CalibrationDue = 1054;
constexpr int CalibrationBox = 1055;
constexpr int LcdBlank = 1056;
constexpr int DateButton = 1058; // day or month first
constexpr int TimeButton = 1059; // 12 or 24 hours
constexpr int SecondaryList = 1057;
constexpr int SecondaryEdit = 1060;
constexpr int PointWiseList = 1061;
constexpr int PointWiseEdit = 1062;
constexpr int SecondaryReset = 1063;
constexpr int PointWiseReset = 1064;
constexpr int Protocol = 1065;
constexpr int UpPcba = 1066;
constexpr int TemplateVersion = 1067;
constexpr int Watchdog = 1068;
constexpr int AdcGain = 1069;
constexpr int AdcOffset = 1070;
constexpr int Revision = 1084;
constexpr int ActiveRange = 1114;
constexpr int DesiredRange = 1115;
} // namespace FieldId

#pragma once

// Field ids of the Quixal meter form: the numbers by which the command lists, the variable
// transfers and the form's SetField/GetField address its fields. Where a control's window id
// differs from its field id, the field id is listed here and the control id beside it.
namespace QXFieldId {
constexpr int Units = 1004; // Engineering Units list
constexpr int Output = 1005; // "I-Out / V-Out" list
constexpr int Polarity = 1006; // frequency "Polarity" list
constexpr int RelayOffFunction = 1008; // Relay #2 OFF "Function"
constexpr int RelayOnFunction = 1009; // Relay #2 ON "Function"
constexpr int RelayOffValue = 1012;
constexpr int RelayOnValue = 1013;
constexpr int RelayOffDelay = 1016;
constexpr int RelayOnDelay = 1017;
constexpr int FullScale = 1018;
constexpr int AdcFilter = 1028; // control 1027
constexpr int DisplayRefresh = 1031; // control 1030
constexpr int HoldFlow = 1034;
constexpr int CFactor = 1036;
constexpr int ZeroOffset = 1037;
constexpr int MaxRange = 1038;
constexpr int XSect = 1039;
constexpr int Read = 1040;
constexpr int Send = 1041;
constexpr int PulseWidth = 1042;
constexpr int DateField = 1043;
constexpr int TimeField = 1044;
constexpr int Password = 1045;
constexpr int ModbusAddr = 1046;
constexpr int PrimaryList = 1047;
constexpr int SerialNumber = 1048;
constexpr int MeterVersion = 1049;
constexpr int ImageText = 1051;
constexpr int PrimaryReset = 1052;
constexpr int ZeroCutoff = 1053;
constexpr int CalibrationDue = 1054;
constexpr int CalibrationBox = 1055;
constexpr int NoDisplay = 1056;
constexpr int Protocol = 1065;
constexpr int UpPcba = 1066;
constexpr int TemplateVersion = 1067;
constexpr int Watchdog = 1068;
constexpr int VOut = 1069;
constexpr int Revision = 1084;
constexpr int DacFilter = 1174; // control 1021
constexpr int DacRefresh = 1175; // control 1023
// The ids the controls above also answer to: the ADC filter's own, and the arrows of the DAC
// filter, DAC refresh and display refresh edits.
constexpr int AdcFilterControl = 1027;
constexpr int DacFilterSpin = 1021;
constexpr int DacRefreshSpin = 1023;
constexpr int DisplayRefreshSpin = 1030;
} // namespace QXFieldId

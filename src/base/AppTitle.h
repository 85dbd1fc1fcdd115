#pragma once

// The program's name and version: the caption of its messages and main window, the
// preferences' application name and the audit records' version.
constexpr const char *kAppTitle = "Tarvik V2.16";

#pragma once

// The --modbus mode of tarvik-metersim: a network of slave meters on one pseudo-terminal.
// argc/argv are the whole command line; returns the process exit code.
int RunModbusSim(int argc, char **argv);

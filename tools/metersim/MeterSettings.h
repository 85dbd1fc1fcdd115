#pragma once

#include <QString>
#include <QtGlobal>

// What the command line chose: series, firmware, identity and files.
struct MeterSettings
{
    bool quixal = false;
    QString version; // "4.1A", "1.4A", ...
    QString revision; // one letter
    QString model; // three characters
    qint64 serial = -1; // -1: keep what the image holds
    int range = 0; // 0: keep what the image holds
    QString varsFile; // layout file
    QString section; // layout section; empty: chosen from the version
    QString imageFile; // meter file; empty: the image lives in memory only
    QString unitsFile; // engineering-units list whose first words the meter prints
    int streamMs = 1000; // run-mode reading line period
    int quietMs = 45; // answers wait until the program has been silent this long
    bool fixedFlow = false; // every reading shows flow (no sine, no noise)
    double flow = 0.0;
    double total = 1234.5678; // totalizer at start
    int tracking = -1; // -1: the image's tracking bit; 0 or 1: forced
    QString logFile; // the logger memory's content at start (as "953" sends it)
    int deafWakes = 0; // wake-ups (eighteen dots) ignored before the first is answered
    int answerWakes = -1; // wake-ups answered before every later one is ignored; -1: all
    int storeWrong = -1; // image offset stored with its lowest bit flipped; -1: none
    bool silent = false; // takes what arrives and never says anything (a meter with a cut line)
    QString memToken; // first word of the "956" answer; empty: "MEM:" and the free bytes in hex
};

// What the load made of each function: bound, or why not, as a code of
// zorvik/reasons.h. A back-end records its refusal where it refuses, beside
// the debugger line that says so; the selection records the rest (a load
// that failed, a chip code without a back-end, a probe nothing answered).
// Written only during load, read-only afterwards.
#pragma once

#include "platform/platform.h"
#include "zorvik/reasons.h"

struct LoadReportRecord {
    uint8_t Reason[ZRV_FUNCTIONS];  // ZRV_REASON_*, by ZRV_FUNCTION_*
    uint8_t Current;                // the function being selected
    uint8_t Recorded;               // a refusal of it is recorded
};

extern LoadReportRecord LoadReport;

// A refusal of the function being selected. The first one stands: what a
// back-end refuses after it is a consequence. Resident: the back-ends'
// tables of set-up routines call it.
void LoadRefused(uint8_t reason);

// The selection's bracket around one function's detect routine.
void LoadSelecting(uint8_t function);
void LoadSelected(bool bound, uint8_t otherwise);

// At the end of the load: one event log entry for every function the
// configuration names a back-end for that did not bind (not for a chip code
// without a back-end for it, which names none), and the reasons of all
// functions for programs (platform/platform.h). Neither changes the load.
void PublishLoadReport(PlatDriver* driver);

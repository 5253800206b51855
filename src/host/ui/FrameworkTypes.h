// Small value types shared by the framework classes: identifiers, command and
// event numbers, idle phases, and the event record handed to controls.
#pragma once

#include <cstdint>

#include "host/base/MacTypes.h"

// A view's or behaviour's four-character identifier ('pbgb', 'stat'); 0 is none.
using IDType = uint32_t;
using CommandNumber = int32_t;
using EventNumber = int32_t;
using IdlePhase = int16_t;

inline constexpr IDType kNoIdentifier = 0;

// Command numbers of the framework itself.
enum : CommandNumber {
  cNoCommand = 0,
  cAboutApp = 1,
  cQuit = 36,
  // The quit request that arrives from outside the program (the quit event
  // of another program). It reaches TApplication::DoScriptCommand, which may
  // refuse it.
  cQuitRequest = 44,
  // The system asks the program to end (SIGTERM, SIGINT): it reaches
  // DoScriptCommand too; the program should end soon without asking anyone.
  cTerminateRequest = 45,
};

// Idle phases: DoIdle is called with idleContinue while the handler's idle
// frequency elapses.
enum : IdlePhase { idleBegin = 0, idleContinue = 1, idleEnd = 2 };

// The idle frequency that means "never idle".
inline constexpr int32_t kMaxIdleTime = 2147483647;

// Event numbers that controls send to their window's DoEvent.
enum : EventNumber {
  mButtonHit = 1,
  mCheckBoxHit = 2,
  mRadioHit = 3,
  mPopupHit = 4,
  mEditTextHit = 5,
  mListSelectionHit = 6,
  mSliderHit = 14,  // a slider or scroll bar moved to a new value
};

// What a control knows about the user action that made it send its event.
struct TToolboxEvent {
  int clickCount = 1;
  bool shiftKey = false;
  bool commandKey = false;  // the Control key on this system
  bool optionKey = false;   // Alt
};

// SPDX-License-Identifier: MIT
// The state of the one run: what the command line selected and opened.
#pragma once

#include <cstdio>

#include "flash/flash.h"

struct RunState {
  char programName[256];
  FILE* imageFile;
  const char* devicePath;
  FlashCommand command;
  uint32_t timeoutMs;
  FILE* outputFile;
};

// Filled by the options, read by dispatch; zero at start.
extern struct RunState RunState;

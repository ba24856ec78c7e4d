// SPDX-License-Identifier: MIT
#include "cli/run_state.h"

struct RunState RunState = {};

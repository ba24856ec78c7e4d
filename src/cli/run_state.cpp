#include "cli/run_state.h"

struct RunState RunState = {};

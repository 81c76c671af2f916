#pragma once
// prvardo-timer --set and --status: a request to the running timer, through its local socket.

#include "frontend/CommandLine.h"

// What the running timer answers, printed; status 1 when none runs or it does not answer, 2 for
// a request it refuses.
int AskRunningTimer(const TCommandLine& line);

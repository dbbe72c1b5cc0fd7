#pragma once
#include "kit/Kit.h"

// acceptance.cmd: the run, from the checks before any change to its summary; its exit status.
int runAcceptance(KitSession& kit);

// Detect routines and operation tables of every back-end, as the selection
// binds them. Each back-end declares its own here.
#pragma once

#include "core/ops.h"

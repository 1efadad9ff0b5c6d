// The runtime's operations (bridge/runtime.h) and its test hooks, for the tests.
#pragma once

#include <jni.h>

#include "bridge/runtime.h"
#include "ezjcom/testing.h"

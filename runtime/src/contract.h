// The operations this library implements, as the bridge declares them.
#pragma once

#include <jni.h>

#include "bridge/runtime.h"

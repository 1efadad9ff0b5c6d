// POSIX stand-in for the Windows header of the same name.
#pragma once
#include "posixcom/com.h"
#include "posixcom/typeinfo.h"

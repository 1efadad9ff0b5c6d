// The administration side of the test hooks, for the testing API.
#pragma once

#include <oaidl.h>

#include <cstddef>

namespace ezjcom {

void hooks_reset();
void hooks_journal_enable(bool on);
size_t hooks_journal_copy(char* buf, size_t cap);
void hooks_force(const char* op, HRESULT hr, int times);
void hooks_fatal_after(const char* op, int nth);

}  // namespace ezjcom

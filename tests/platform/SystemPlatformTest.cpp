#include <gtest/gtest.h>

#include "../support/ScratchMachine.h"
#include "Win32.h"

namespace {

#ifndef _WIN32
// The run-at-a-time lock's wait ends when its time is up; a release frees it.
TEST(SystemPlatform, AWaitForAMutexHeldElsewhereEndsWhenItsTimeIsUp) {
  ScratchMachine machine;
  const HANDLE holder = CreateMutexA(nullptr, FALSE, "Global\\Test");
  const HANDLE waiter = CreateMutexA(nullptr, FALSE, "Global\\Test");
  ASSERT_EQ(WaitForSingleObject(holder, 0), DWORD{WAIT_OBJECT_0});
  EXPECT_EQ(WaitForSingleObject(waiter, 50), DWORD{WAIT_TIMEOUT});
  EXPECT_TRUE(ReleaseMutex(holder));
  EXPECT_EQ(WaitForSingleObject(waiter, 50), DWORD{WAIT_OBJECT_0});
  CloseHandle(holder);
  CloseHandle(waiter);
}
#endif

}  // namespace

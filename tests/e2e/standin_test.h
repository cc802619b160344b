#pragma once
// The fixture of the tests that run a tracker against a stand-in emulator of
// their own: the tracker attaches to the first retroarch.exe it finds, so no
// other may run meanwhile.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "e2e/e2e_support.h"

class StandinTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Another suite's stand-in may still be ending.
        std::string others = WaitForNoForeignEmulators(std::chrono::seconds(120));
        ASSERT_TRUE(others.empty()) << "another retroarch.exe is running; these tests need the machine to themselves:\n"
                                    << others;
    }
    TrackerRun tracker;
    Standin standin;
};

// SPDX-License-Identifier: GPL-3.0-or-later
// Points DISPLAY at the private Xvfb that the test fixture started (see xvfb.sh).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace corvex_test {

class XvfbEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::ifstream in(std::string(CORVEX_XVFB_DIR) + "/display");
        std::string display;
        if (in >> display) setenv("DISPLAY", display.c_str(), 1);
    }
};

inline ::testing::Environment* const kXvfb =
    ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);

}  // namespace corvex_test

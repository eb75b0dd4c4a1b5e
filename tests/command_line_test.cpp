#include "cli/command_line.hpp"

#include <gtest/gtest.h>

namespace {

// What the end-to-end runs cannot pass: white space other than spaces in a number, and an empty
// argument vector.
TEST(ReadCommandLine, WhatNoShellPasses) {
    EXPECT_EQ(read_number(" \t\n\v\f\r42"), 42u);
    EXPECT_EQ(read_command_line(0, nullptr).error, "ERREUR: Trop d'arguments");
}

}  // namespace

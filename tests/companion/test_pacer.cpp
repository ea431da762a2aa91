#include <gtest/gtest.h>

#include "pacer.hpp"

namespace {

using tolmkit::Pacer;

TEST(Pacer, ChecksOncePerLookAtTheClockWhenThePeriodIsOver) {
    int checks = 0;
    Pacer every_look([&checks] { ++checks; }, std::chrono::nanoseconds(0));
    every_look(Pacer::steps_between_looks - 1);
    EXPECT_EQ(checks, 0);
    every_look();
    every_look(3 * Pacer::steps_between_looks);  // one look, however many steps
    EXPECT_EQ(checks, 2);
    Pacer hourly([&checks] { ++checks; }, std::chrono::hours(1));
    hourly(10 * Pacer::steps_between_looks);
    EXPECT_EQ(checks, 2);
    Pacer().operator()(10 * Pacer::steps_between_looks);  // no check to call
}

}  // namespace

// The long sweeps (label "long"); short versions run in editing_tests.
#include <gtest/gtest.h>

#include "EditingTestUtil.h"

using namespace scarlex::test;

TEST(SpanWalkLong, ExplicitStackMatchesTheRecursionSweep) { CompareWithRecursion(20000, 64, 11); }

TEST(RemovalLong, Whole24MegapixelRedFrame) { WholeFrame(6000, 4000); }

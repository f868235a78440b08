// Tesquin_Init / Tesquin_UnInit against the fake dictionary service.
#include <cstdio>
#include <string>

#include "tesqsrch/tesqsrch.h"
#include "test_support.h"

namespace {

using Lifecycle = Unit_Test;
using Strings = std::vector<std::string>;

TEST_F(Lifecycle, InitStartsTheServiceAndLoadsTheFiveDictionariesInOrder) {
  EXPECT_EQ(Tesquin_Init(7), 0);
  EXPECT_EQ(fake::Vornel().calls,
            (Strings{"Dict_Init_New(7,100,200,524288,4)", "Dict_Load_New(foreign_dic)", "Dict_Load_New(name_dic)",
                     "Dict_Load_New(org_dic)", "Dict_Load_New(fund_dic)", "Dict_Load_New(place)"}));
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0) << "load handles are released at once";
}

struct Failure_Case {
  const char *failing;  // nullptr: Dict_Init_New fails
  int32_t code;
  Strings calls;  // the lifecycle calls made
};

void PrintTo(const Failure_Case &c, std::ostream *os) { *os << (c.failing ? c.failing : "service") << " " << c.code; }

class Init_Failure : public Unit_Test, public ::testing::WithParamInterface<Failure_Case> {};

// A failed Tesquin_Init stops at the failing dictionary, unloads those it
// loaded before it and stops the service, so that nothing stays loaded.
TEST_P(Init_Failure, FailedInitReleasesWhatItLoadedAndTheNextInitStartsAfresh) {
  const Failure_Case c = GetParam();
  if (c.failing == nullptr) fake::Vornel().init_succeeds = false;
  else fake::Vornel().failing_loads.insert(c.failing);
  EXPECT_EQ(Tesquin_Init(0), c.code);
  EXPECT_EQ(fake::Vornel().calls, c.calls);
  EXPECT_TRUE(fake::Vornel().loaded.empty());
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
  EXPECT_EQ(fake::Vornel().bad_releases, 0);
  // Not initialised: shutting down does nothing, and a later init runs every
  // step again.
  fake::Vornel().calls.clear();
  EXPECT_EQ(Tesquin_UnInit(), 0);
  EXPECT_TRUE(fake::Vornel().calls.empty());
  fake::Vornel().init_succeeds = true;
  fake::Vornel().failing_loads.clear();
  EXPECT_EQ(Tesquin_Init(0), 0);
  EXPECT_EQ(fake::Vornel().calls,
            (Strings{"Dict_Init_New(0,100,200,524288,4)", "Dict_Load_New(foreign_dic)", "Dict_Load_New(name_dic)",
                     "Dict_Load_New(org_dic)", "Dict_Load_New(fund_dic)", "Dict_Load_New(place)"}));
  EXPECT_EQ(fake::Vornel().loaded.size(), 5u);
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
}

const char kStart[] = "Dict_Init_New(0,100,200,524288,4)";
const char kFree[] = "Free_All_Space()";

INSTANTIATE_TEST_SUITE_P(
    Codes, Init_Failure,
    ::testing::Values(
        Failure_Case{nullptr, -1, {kStart}},
        Failure_Case{"foreign_dic", -2, {kStart, "Dict_Load_New(foreign_dic)", kFree}},
        Failure_Case{"name_dic", -3,
                     {kStart, "Dict_Load_New(foreign_dic)", "Dict_Load_New(name_dic)", "Dict_Unload_New(foreign_dic)",
                      kFree}},
        Failure_Case{"org_dic", -4,
                     {kStart, "Dict_Load_New(foreign_dic)", "Dict_Load_New(name_dic)", "Dict_Load_New(org_dic)",
                      "Dict_Unload_New(name_dic)", "Dict_Unload_New(foreign_dic)", kFree}},
        Failure_Case{"fund_dic", -5,
                     {kStart, "Dict_Load_New(foreign_dic)", "Dict_Load_New(name_dic)", "Dict_Load_New(org_dic)",
                      "Dict_Load_New(fund_dic)", "Dict_Unload_New(org_dic)", "Dict_Unload_New(name_dic)",
                      "Dict_Unload_New(foreign_dic)", kFree}},
        Failure_Case{"place", -6,
                     {kStart, "Dict_Load_New(foreign_dic)", "Dict_Load_New(name_dic)", "Dict_Load_New(org_dic)",
                      "Dict_Load_New(fund_dic)", "Dict_Load_New(place)", "Dict_Unload_New(fund_dic)",
                      "Dict_Unload_New(org_dic)", "Dict_Unload_New(name_dic)", "Dict_Unload_New(foreign_dic)",
                      kFree}}),
    [](const ::testing::TestParamInfo<Failure_Case> &info) {
      return std::string(info.param.failing ? info.param.failing : "service");
    });

TEST_F(Lifecycle, MissingOrgDicStopsBeforeFundAndPlace) {
  fake::Vornel().failing_loads.insert("org_dic");
  EXPECT_EQ(Tesquin_Init(0), -4);
  const Strings &calls = fake::Vornel().calls;
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "Dict_Load_New(fund_dic)"), 0);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "Dict_Load_New(place)"), 0);
  EXPECT_EQ(Strings(calls.begin(), calls.begin() + 4),
            (Strings{"Dict_Init_New(0,100,200,524288,4)", "Dict_Load_New(foreign_dic)", "Dict_Load_New(name_dic)",
                     "Dict_Load_New(org_dic)"}));
}

TEST_F(Lifecycle, SecondInitCallsNothing) {
  ASSERT_EQ(Tesquin_Init(0), 0);
  fake::Vornel().calls.clear();
  EXPECT_EQ(Tesquin_Init(0), 0);
  EXPECT_TRUE(fake::Vornel().calls.empty());
}

TEST_F(Lifecycle, UnInitBeforeInitCallsNothing) {
  EXPECT_EQ(Tesquin_UnInit(), 0);
  EXPECT_TRUE(fake::Vornel().calls.empty());
}

TEST_F(Lifecycle, UnInitUnloadsInItsOwnOrderThenFreesEverything) {
  ASSERT_EQ(Tesquin_Init(0), 0);
  fake::Vornel().calls.clear();
  fake::Vornel().loaded.erase("name_dic");  // a dictionary without a handle is skipped
  EXPECT_EQ(Tesquin_UnInit(), 0);
  EXPECT_EQ(fake::Vornel().calls,
            (Strings{"Dict_Unload_New(fund_dic)", "Dict_Unload_New(org_dic)", "Dict_Unload_New(foreign_dic)",
                     "Dict_Unload_New(place)", "Free_All_Space()"}));
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
  EXPECT_EQ(fake::Vornel().bad_releases, 0);
}

TEST_F(Lifecycle, UnInitLetsTheTermStoreCloseItsIdleConnections) {
  // Before a successful Init too: searches may have run without one.
  EXPECT_EQ(Tesquin_UnInit(), 0);
  EXPECT_EQ(fake::Karvel().close_idle_calls, 1);
  ASSERT_EQ(Tesquin_Init(0), 0);
  EXPECT_EQ(fake::Karvel().close_idle_calls, 1);
  EXPECT_EQ(Tesquin_UnInit(), 0);
  EXPECT_EQ(fake::Karvel().close_idle_calls, 2);
  EXPECT_TRUE(fake::Karvel().calls.empty());  // no statement runs
}

TEST_F(Lifecycle, InitAgainAfterUnInitLoadsAgain) {
  ASSERT_EQ(Tesquin_Init(0), 0);
  ASSERT_EQ(Tesquin_UnInit(), 0);
  fake::Vornel().calls.clear();
  EXPECT_EQ(Tesquin_Init(0), 0);
  EXPECT_EQ(fake::Vornel().calls.size(), 6u);
}

// Whether Tesquin_Search_Singleword labels the serial number "RR-0001" of
// region code RR as CN.
bool Region_Gives_Cn(int code) {
  char word[16];
  std::snprintf(word, sizeof word, "%02d-0001", code);
  char label[16] = "";
  uint32_t size = sizeof label;
  return Tesquin_Search_Singleword(word, label, &size) == 0 && std::string(label) == "CN";
}

TEST_F(Lifecycle, InitMakesExactly31RegionCodesValidForChinaSerialNumbers) {
  ASSERT_EQ(Tesquin_Init(0), 0);
  int valid = 0;
  for (int code = 0; code < 100; ++code) valid += Region_Gives_Cn(code);
  EXPECT_EQ(valid, 31);
  // The first and last of each block of province codes, and their gaps.
  for (int code : {11, 15, 21, 23, 31, 37, 41, 46, 50, 54, 61, 65}) EXPECT_TRUE(Region_Gives_Cn(code)) << code;
  for (int code : {0, 10, 16, 20, 24, 30, 38, 40, 47, 49, 55, 60, 66, 99}) EXPECT_FALSE(Region_Gives_Cn(code)) << code;
}

}  // namespace

// Tesquin_Init / Tesquin_UnInit against the fake dictionary service.
#include <algorithm>

#include "core/library_state.h"
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

TEST_F(Lifecycle, RegionTableHoldsExactlyTheProvinceCodes) {
  ASSERT_EQ(Tesquin_Init(0), 0);
  const std::vector<int> valid = {11, 12, 13, 14, 15, 21, 22, 23, 31, 32, 33, 34, 35, 36, 37, 41,
                                  42, 43, 44, 45, 46, 50, 51, 52, 53, 54, 61, 62, 63, 64, 65};
  int count = 0;
  for (int code = 0; code < 66; ++code) {
    const bool expected = std::find(valid.begin(), valid.end(), code) != valid.end();
    EXPECT_EQ(Region_Table[code], expected ? 1 : 0) << "region " << code;
    count += Region_Table[code];
  }
  EXPECT_EQ(count, 31);
}

}  // namespace

#include <gtest/gtest.h>

#include <climits>

#include "pbf.h"

namespace pbf {
namespace {

std::string Printed(const PBF& f) {
  ::testing::internal::CaptureStdout();
  f.Print();
  std::fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

// The module's own tests pin the text of an ordinary function in both forms, and the differential
// tests its order (ascending degree, then creation) against the literal store's; here the
// constants and an id that no Python call can reach.
TEST(Render, ConstantsAndExtremes) {
  PBF f;
  EXPECT_EQ(f.GetString(), " +0");
  EXPECT_EQ(Printed(f), " +0\n");
  f.constant = -5;
  EXPECT_EQ(f.GetString(), " -5");
  f.constant = INT32_MIN;
  // The largest id cannot get an occurrence index here, so place the term directly.
  f.terms.Table(1).vars.push_back(INT32_MAX);
  f.terms.Table(1).coefs.push_back(INT32_MIN);
  EXPECT_EQ(f.GetString(), " -2147483648x_{2147483648} -2147483648");
  EXPECT_EQ(Printed(f), " -2147483648x_{2147483648} -2147483648\n");
}

}  // namespace
}  // namespace pbf

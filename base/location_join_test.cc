#include "base/location_join.h"

#include <gtest/gtest.h>

namespace {

TEST(JoinLocation, ExactlyOneSeparatorOfTheKindTheBaseUses) {
  EXPECT_EQ(JoinLocation("http://domino.test", "domino.dat"), "http://domino.test/domino.dat");
  EXPECT_EQ(JoinLocation("http://domino.test/", "/domino.dat"), "http://domino.test/domino.dat");
  EXPECT_EQ(JoinLocation("http://domino.test//", "domino.dat"), "http://domino.test/domino.dat");
  EXPECT_EQ(JoinLocation("/srv/notes/", "logo.gif"), "/srv/notes/logo.gif");
  EXPECT_EQ(JoinLocation("/srv/notes", "logo.gif"), "/srv/notes/logo.gif");
  EXPECT_EQ(JoinLocation("d:\\relay\\notes", "logo.gif"), "d:\\relay\\notes\\logo.gif");
  EXPECT_EQ(JoinLocation("d:\\relay\\notes\\", "\\logo.gif"), "d:\\relay\\notes\\logo.gif");
  EXPECT_EQ(JoinLocation("/", "logo.gif"), "/logo.gif");
  EXPECT_EQ(JoinLocation("", "logo.gif"), "logo.gif");
}

TEST(JoinLocation, DotPartsAndQueriesAreAppendedDirectly) {
  EXPECT_EQ(JoinLocation("/srv/notes/domino", ".cache"), "/srv/notes/domino.cache");
  EXPECT_EQ(JoinLocation("http://domino.test/cgi-bin/viewexport?Open", "&x=1"),
            "http://domino.test/cgi-bin/viewexport?Open&x=1");
}

}  // namespace

#include <gtest/gtest.h>

#include "core/sph_error.hpp"
#include "core/sph_text.hpp"

TEST(Text, NameEqualIgnoresCaseAndTrailingBlanksButNotLeadingOnes) {
    EXPECT_TRUE(sph_text_name_equal("Steel  ", "STEEL"));
    EXPECT_FALSE(sph_text_name_equal(" steel", "STEEL"));
    EXPECT_FALSE(sph_text_name_equal("steel1", "STEEL"));
    EXPECT_TRUE(sph_text_name_equal("", "   "));
}

TEST(Text, UpperChangesOnlyAsciiLetters) {
    EXPECT_EQ(sph_text_upper("ab_z{\xe9}1"), "AB_Z{\xe9}1");
}

TEST(Text, FieldCutsThenTrims) {
    EXPECT_EQ(sph_text_field("abc   ", 64), "abc");
    EXPECT_EQ(sph_text_field(std::string(70, 'x'), 64), std::string(64, 'x'));
    EXPECT_EQ(sph_text_field("ab  cd", 3), "ab");
}

TEST(Error, MessageIsCutAt256AndClearGivesOk) {
    ErrorState e;
    EXPECT_EQ(sph_error_set(e, 4, std::string(300, 'm')), 4);
    EXPECT_EQ(e.last_error_code, 4);
    EXPECT_EQ(e.last_error_message.size(), 256u);
    sph_error_clear(e);
    EXPECT_EQ(e.last_error_code, 0);
    EXPECT_EQ(e.last_error_message, "OK");
}

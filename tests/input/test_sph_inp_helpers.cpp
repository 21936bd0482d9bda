#include <gtest/gtest.h>

#include <string>

#include "input/sph_inp_helpers.hpp"

TEST(InpHelpers, CleanLineDropsCommentsAndBlanksOnly) {
    EXPECT_EQ(sph_inp_clean_line(""), "");
    EXPECT_EQ(sph_inp_clean_line("     "), "");
    EXPECT_EQ(sph_inp_clean_line("! a comment"), "");
    EXPECT_EQ(sph_inp_clean_line("** a comment"), "");
    EXPECT_EQ(sph_inp_clean_line("*"), "*");  // one asterisk is a keyword line
    EXPECT_EQ(sph_inp_clean_line("  *Node  "), "*Node");
    // Comment markers after leading blanks are not comments.
    EXPECT_EQ(sph_inp_clean_line("   ! word"), "! word");
    EXPECT_EQ(sph_inp_clean_line("  **"), "**");
    // Tabs are not blanks.
    EXPECT_EQ(sph_inp_clean_line("\t1, 2"), "\t1, 2");
}

TEST(InpHelpers, CleanLineCutsAt1024BeforeLeftAdjusting) {
    std::string raw = "  " + std::string(1100, 'x');
    EXPECT_EQ(sph_inp_clean_line(raw).size(), 1022u);
    std::string blanks_then_text = std::string(1030, ' ') + "x";
    EXPECT_EQ(sph_inp_clean_line(blanks_then_text), "");
}

TEST(InpHelpers, KeywordIdsByPrefixInTableOrder) {
    EXPECT_EQ(sph_inp_keyword_id("*NODE"), sph_inp_kw_node);
    EXPECT_EQ(sph_inp_keyword_id("*node, nset=a"), sph_inp_kw_node);
    EXPECT_EQ(sph_inp_keyword_id("*Nodes"), sph_inp_kw_node);
    EXPECT_EQ(sph_inp_keyword_id("*NODE OUTPUT"), sph_inp_kw_node);
    EXPECT_EQ(sph_inp_keyword_id("*Element, type=C3D8"), sph_inp_kw_element);
    EXPECT_EQ(sph_inp_keyword_id("*NSET"), sph_inp_kw_nset);
    EXPECT_EQ(sph_inp_keyword_id("*ELSET"), sph_inp_kw_elset);
    EXPECT_EQ(sph_inp_keyword_id("*MATERIAL"), sph_inp_kw_material);
    EXPECT_EQ(sph_inp_keyword_id("*VELUNOR SECTION"), sph_inp_kw_velunor);
    EXPECT_EQ(sph_inp_keyword_id("*DENSITY"), sph_inp_kw_density);
    EXPECT_EQ(sph_inp_keyword_id("*ELASTIC"), sph_inp_kw_elastic);
    EXPECT_EQ(sph_inp_keyword_id("*PLASTIC, HARDENING=JOHNSON COOK"), sph_inp_kw_plastic);
    EXPECT_EQ(sph_inp_keyword_id("*Damage Initiation, criterion=JOHNSON COOK"), sph_inp_kw_damage);
    EXPECT_EQ(sph_inp_keyword_id("*DAMAGE EVOLUTION"), sph_inp_kw_unknown);
    EXPECT_EQ(sph_inp_keyword_id("*ORIENTATION, NAME=O1"), sph_inp_kw_orientation);
    EXPECT_EQ(sph_inp_keyword_id("*Solid Section, elset=A"), sph_inp_kw_section);
    EXPECT_EQ(sph_inp_keyword_id("*BEAM GENERAL SECTION"), sph_inp_kw_section);
    EXPECT_EQ(sph_inp_keyword_id("*STEP, NAME=SECTIONED"), sph_inp_kw_section);
    EXPECT_EQ(sph_inp_keyword_id("*STEP"), sph_inp_kw_unknown);
    EXPECT_EQ(sph_inp_keyword_id("*"), sph_inp_kw_unknown);
}

TEST(InpHelpers, SplitCsvFieldsAndLimits) {
    SphCsvFields f;
    sph_inp_split_csv("  a , B b ,c", f);
    ASSERT_EQ(f.count, 3);
    EXPECT_EQ(f.field[0], "a");
    EXPECT_EQ(f.field[1], "B b");
    EXPECT_EQ(f.field[2], "c");

    sph_inp_split_csv("1, 2, 3,", f);  // a trailing comma ends in an empty field
    ASSERT_EQ(f.count, 4);
    EXPECT_EQ(f.field[3], "");

    sph_inp_split_csv("single", f);
    ASSERT_EQ(f.count, 1);
    EXPECT_EQ(f.field[1], "");  // fields of the earlier split are cleared

    std::string many;
    for (int k = 1; k <= 70; ++k) many += std::to_string(k) + (k < 70 ? "," : "");
    sph_inp_split_csv(many, f);
    ASSERT_EQ(f.count, 64);
    EXPECT_EQ(f.field[63], "64");

    std::string exactly64;
    for (int k = 1; k <= 64; ++k) exactly64 += std::to_string(k) + ",";
    sph_inp_split_csv(exactly64, f);  // 64 commas: the empty 65th field is dropped
    EXPECT_EQ(f.count, 64);

    const std::string long_field = "  " + std::string(300, 'y') + "  ,z";
    sph_inp_split_csv(long_field, f);
    ASSERT_EQ(f.count, 2);
    EXPECT_EQ(f.field[0].size(), 256u);
    EXPECT_EQ(f.field[1], "z");

    sph_inp_split_csv("x,\t", f);  // tabs stay in fields
    EXPECT_EQ(f.field[1], "\t");
}

TEST(InpHelpers, UpperAndPrefix) {
    EXPECT_EQ(sph_inp_upper("Name=steel_1"), "NAME=STEEL_1");
    EXPECT_TRUE(sph_inp_starts_with_upper("*solid section", "*SOLID SECTION"));
    EXPECT_FALSE(sph_inp_starts_with_upper("*SOLID", "*SOLID SECTION"));
}

#include <vector>

#include "deck_test_util.hpp"

namespace {

std::vector<std::string> read_lines(const std::string& path) {
    std::vector<std::string> lines;
    SphInpLineReader reader;
    EXPECT_TRUE(reader.open(path));
    std::string_view line;
    while (reader.next(line)) lines.emplace_back(line);
    EXPECT_FALSE(reader.failed());
    return lines;
}

}  // namespace

TEST(InpLineReader, LineEndingsLongLinesAndLastLine) {
    std::string text = "a\r\nb\n\r\nc\rd\r\n";
    text += std::string(3u << 20, 'L') + "\r\n";  // longer than the reader's buffer
    text += std::string(1500, 'M') + "\n";
    text += std::string("n\0l", 3) + "\n";
    text += "last\r";  // no line feed at the end
    deck_test::TempDeck deck(text);
    std::vector<std::string> lines = read_lines(deck.path());
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "a");
    EXPECT_EQ(lines[1], "b");
    EXPECT_EQ(lines[2], "");
    EXPECT_EQ(lines[3], "c\rd");  // a carriage return inside a line stays
    EXPECT_EQ(lines[4], std::string(1024, 'L'));
    EXPECT_EQ(lines[5], std::string(1024, 'M'));
    EXPECT_EQ(lines[6], std::string("n\0l", 3));
    EXPECT_EQ(lines[7], "last");
}

TEST(InpLineReader, EmptyFileAndUnopenablePaths) {
    deck_test::TempDeck empty("");
    EXPECT_TRUE(read_lines(empty.path()).empty());
    SphInpLineReader reader;
    EXPECT_FALSE(reader.open(deck_test::temp_dir().string()));
    EXPECT_FALSE(reader.open((deck_test::temp_dir() / "no_such_deck.inp").string()));
    std::string_view line;
    EXPECT_FALSE(reader.next(line));  // a reader that is not open yields nothing
}

TEST(InpLineReader, ByteOrderMarkOnlyBeforeTheFirstLineIsDropped) {
    deck_test::TempDeck deck(
        "\xEF\xBB\xBF*NODE\r\n\xEF\xBB\xBF"
        "1\n");
    std::vector<std::string> lines = read_lines(deck.path());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "*NODE");
    EXPECT_EQ(lines[1],
              "\xEF\xBB\xBF"
              "1");
}

#include "audio/TagSet.h"

#include <gtest/gtest.h>

// Fields keep their order and every value, keys in any letter case name one field, and what is
// empty or too large is left out.
TEST(TagSet, FieldsKeepTheirOrderAndEveryValue)
{
    TagSet tags;
    EXPECT_TRUE(tags.Empty());
    EXPECT_TRUE(tags.Add("artist", "Art"));
    EXPECT_TRUE(tags.Add("TITLE", "A / B\nsecond line"));
    EXPECT_TRUE(tags.Add(" Artist ", "Second"));
    EXPECT_TRUE(tags.Add("MUSICBRAINZ_TRACKID", "0d3c2f1e"));
    EXPECT_FALSE(tags.Add("COMMENT", ""));
    EXPECT_FALSE(tags.Add("  ", "no key"));
    EXPECT_FALSE(tags.Add("LYRICS", std::string(TagSet::kLargestValue + 1, 'x')));
    EXPECT_TRUE(tags.Add("LYRICS", std::string(TagSet::kLargestValue, 'x')));
    ASSERT_EQ(tags.Fields().size(), 4u);
    EXPECT_EQ(tags.Fields()[0].key, "ARTIST");
    EXPECT_EQ(tags.Values("Artist"), (std::vector<std::string> {"Art", "Second"}));
    EXPECT_EQ(tags.First("title"), "A / B\nsecond line");
    EXPECT_TRUE(tags.Values("COMMENT").empty());

    tags.Set("artist", {"Solo", ""});
    EXPECT_EQ(tags.Values("ARTIST"), std::vector<std::string> {"Solo"});
    EXPECT_EQ(tags.Fields()[0].key, "ARTIST"); // set in place
    tags.Set("TITLE", {});
    tags.Remove("musicbrainz_trackid");
    ASSERT_EQ(tags.Fields().size(), 2u);
    EXPECT_EQ(tags.Fields()[1].key, "LYRICS");
}

TEST(TagSet, NumbersTotalsAndTheCover)
{
    const struct {
        const char* number;
        const char* total;
        uint32_t expectedNumber;
        uint32_t expectedTotal;
    } rows[] = {{"4", "12", 4, 12}, {"4/12", "", 4, 12}, {" 7 / 9", "", 7, 9}, {"4/12", "13", 4, 13},
        {"x", "", 0, 0}, {"", "3", 0, 3}, {"99999999999", "", 0, 0}};
    for (const auto& row : rows) {
        TagSet tags;
        tags.Add("TRACKNUMBER", row.number);
        tags.Add("TRACKTOTAL", row.total);
        tags.Add("DISCNUMBER", row.number);
        tags.Add("DISCTOTAL", row.total);
        EXPECT_EQ(tags.TrackNumber(), row.expectedNumber) << row.number;
        EXPECT_EQ(tags.TrackTotal(), row.expectedTotal) << row.number << " " << row.total;
        EXPECT_EQ(tags.DiscNumber(), row.expectedNumber) << row.number;
        EXPECT_EQ(tags.DiscTotal(), row.expectedTotal) << row.number << " " << row.total;
    }

    TagSet tags;
    EXPECT_EQ(tags.Cover(), nullptr);
    EXPECT_FALSE(tags.AddPicture({3, "image/png", "", {}}));
    EXPECT_FALSE(tags.AddPicture({3, "image/png", "", std::vector<uint8_t>(TagSet::kLargestPicture + 1)}));
    EXPECT_TRUE(tags.AddPicture({4, "image/jpeg", "back", {1, 2}}));
    EXPECT_EQ(tags.Cover()->description, "back"); // no front cover: the first picture
    EXPECT_TRUE(tags.AddPicture({3, "image/png", "front", {3}}));
    EXPECT_EQ(tags.Cover()->description, "front");
    EXPECT_EQ(tags.Pictures().size(), 2u);
}

#include "programming/Lang.h"

#include <gtest/gtest.h>

#include <set>

namespace vrax {
namespace {

TEST(LangTest, EveryIdFromZeroTo38IsFoundOnceAndOnlyRowTwoDiffersByColumn) {
    std::set<int> ids;
    for (const UITextRow& row : UITextTable) {
        EXPECT_TRUE(ids.insert(row.id).second) << "duplicate id " << int(row.id);
    }
    EXPECT_EQ(ids.size(), 39u);
    EXPECT_EQ(*ids.begin(), 0);
    EXPECT_EQ(*ids.rbegin(), 38);

    Lang lang;
    for (int column = 0; column < 3; ++column) {
        lang.LanguageIndex = static_cast<std::uint8_t>(column);
        for (int id = 0; id <= 38; ++id) {
            std::string text;
            lang.GetUIText(static_cast<std::uint8_t>(id), text);
            EXPECT_FALSE(text.empty()) << id;
            if (id != 2) {
                Lang columnZero;
                EXPECT_EQ(text, columnZero.Text(static_cast<std::uint8_t>(id)));
            }
        }
    }
    lang.LanguageIndex = 0;
    EXPECT_EQ(lang.Text(2), "VRAX IC Type:");
    lang.LanguageIndex = 1;
    EXPECT_EQ(lang.Text(2), "VRAX IC Type");
    lang.LanguageIndex = 2;
    EXPECT_EQ(lang.Text(2), "VRAX IC Type");
}

} // namespace
} // namespace vrax

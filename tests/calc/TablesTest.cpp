#include "calc/ExpTables.h"

#include <gtest/gtest.h>

namespace qarvia::calc {
namespace {

struct SpanCase {
    const char* table;
    const LevelTable* values;
    int from;
    int to;
    double expected;
};

TEST(LevelTables, SpansBetweenLevels) {
    const SpanCase cases[] = {
        {"role", &RoleExpTable, 1, 2, 40},
        {"role", &RoleExpTable, 1, 80, 5896376410.0},
        {"role", &RoleExpTable, 79, 80, 927633310},
        {"role", &RoleExpTable, 50, 51, 3869710},
        {"pet", &PetExpTable, 1, 80, 2166842699.0},
        {"pet", &PetExpTable, 70, 72, 80520074.0 + 105864192.0},
        {"soul", &SoulExpTable, 1, 80, 2923057762.0},
        {"soul", &SoulExpTable, 35, 60, 138000986},
    };
    for (const SpanCase& c : cases)
        EXPECT_EQ(levelSpan(*c.values, c.from, c.to), c.expected) << c.table << " " << c.from << "-" << c.to;
}

TEST(LevelTables, NoSpanOutsideTheTable) {
    const std::pair<int, int> outside[] = {{0, 5}, {-3, 5}, {5, 81}, {79, 1000}, {10, 10}, {20, 10}};
    for (auto [a, b] : outside)
        EXPECT_EQ(levelSpan(RoleExpTable, a, b), 0) << a << "-" << b;
}

TEST(LevelTables, SoulPearlTotalIsTheFusionTableExperience) {
    EXPECT_EQ(levelSpan(SoulExpTable, 1, 80), fusionTotals(80).exp);
    for (int level = 2; level <= MaxLevel; ++level)
        EXPECT_EQ(fusionTotals(level).exp - fusionTotals(level - 1).exp, SoulExpTable[level]) << level;
}

TEST(PillTable, ExperienceByStarsAndLevel) {
    struct Case {
        int stars;
        int level;
        double expected;
    };
    const Case cases[] = {
        {6, 80, 10298880},
        {1, 50, 92400},
        {1, 75, 228480},
        {4, 65, 963360},
        // levels and stars the table does not hold
        {0, 50, 0},
        {7, 50, 0},
        {1, 55, 0},
        {3, 35, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pillExperience(c.stars, c.level), c.expected) << c.stars << " stars, level " << c.level;
}

TEST(FusionTable, LevelsOutsideTheTableReadItsEnds) {
    for (int level : {1, 0, -7}) {
        const FusionTotals t = fusionTotals(level);
        EXPECT_EQ(t.fusion + t.energy + t.exp, 0) << level;
    }
    EXPECT_EQ(fusionTotals(81).fusion, 725);
    EXPECT_EQ(fusionTotals(80).energy, 1214920);
}

TEST(GridRows, TwentyFourRowsWithEmptyRightHalvesAtTheTop) {
    ASSERT_EQ(HuaxueGridRows.size(), 24u);
    for (int r = 0; r < 5; ++r)
        EXPECT_TRUE(HuaxueGridRows[r].rightType.empty() && HuaxueGridRows[r].rightExp.empty()) << r;
    EXPECT_EQ(HuaxueGridRows[5].rightType, "六35");
    EXPECT_EQ(HuaxueGridRows[6].leftExp, "9.24");
    EXPECT_EQ(HuaxueGridRows[23].rightExp, "1029.888");
}

} // namespace
} // namespace qarvia::calc

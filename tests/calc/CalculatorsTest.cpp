#include "calc/Calculators.h"
#include "calc/ExpTables.h"

#include <gtest/gtest.h>

namespace qarvia::calc {
namespace {

// ---- Experience calculator ----

std::vector<std::string> joined(const ExperienceOutcome& out) {
    std::vector<std::string> lines;
    for (const ResultLine& l : out.lines)
        lines.push_back(l.text + l.amount);
    return lines;
}

struct ExperienceCase {
    const char* name;
    ExperienceInput in;
    std::vector<std::string> lines;
    std::string message;
    std::string error;
};

TEST(ExperienceCalculator, SectionsMessagesAndErrors) {
    const ExperienceCase cases[] = {
        {"defaults", {}, {"化雪丹总经验为：0"}, "", ""},
        {"character 1 to 80",
         {{"1", "80"}, {}, {}, 1, 50, "0"},
         {"人物等级从1级升到80级所需经验为：5,896,376,410", "化雪丹总经验为：0"},
         "",
         ""},
        {"all three sections",
         {{"79", "80"}, {"1", "80"}, {"1", "80"}, 1, 50, "0"},
         {"人物等级从79级升到80级所需经验为：927,633,310", "灵兽等级从1级升到80级所需经验为：2,166,842,699",
          "元魂珠等级从1级升到80级所需经验为：2,923,057,762", "化雪丹总经验为：0"},
         "",
         ""},
        {"equal levels write nothing", {{"10", "10"}, {}, {}, 1, 50, "0"}, {"化雪丹总经验为：0"}, "", ""},
        {"a missing level writes nothing", {{"", "10"}, {"5", ""}, {}, 1, 50, "0"}, {"化雪丹总经验为：0"}, "", ""},
        {"pasted negative level writes nothing", {{"-5", "10"}, {}, {}, 1, 50, "0"}, {"化雪丹总经验为：0"}, "", ""},
        {"wrong order", {{"20", "10"}, {}, {}, 1, 50, "0"}, {}, "等级输入不对", ""},
        {"start above 80 with a valid target", {{"81", "80"}, {}, {}, 1, 50, "0"}, {}, "等级输入不对", ""},
        {"target above 80 is reported before the order", {{"90", "85"}, {}, {}, 1, 50, "0"}, {}, "最高80级", ""},
        {"error after the character line",
         {{"1", "2"}, {"5", "81"}, {"1", "80"}, 1, 50, "0"},
         {"人物等级从1级升到2级所需经验为：40"},
         "最高80级",
         ""},
        {"leading zeros are read as numbers",
         {{"01", "002"}, {}, {}, 1, 50, "0"},
         {"人物等级从1级升到2级所需经验为：40", "化雪丹总经验为：0"},
         "",
         ""},
        {"six-star level-80 pill", {{}, {}, {}, 6, 80, "1"}, {"化雪丹总经验为：10,298,880"}, "", ""},
        {"three one-star level-50 pills", {{}, {}, {}, 1, 50, "3"}, {"化雪丹总经验为：277,200"}, "", ""},
        {"the pill count has no empty-means-zero rule",
         {{"1", "2"}, {}, {}, 1, 50, ""},
         {"人物等级从1级升到2级所需经验为：40"},
         "",
         "'' is not a valid integer value"},
        {"a level beyond 32 bits",
         {{"1", "99999999999"}, {}, {}, 1, 50, "0"},
         {},
         "",
         "'99999999999' is not a valid integer value"},
        {"a large pill count", {{}, {}, {}, 6, 80, "2147483647"}, {"化雪丹总经验为：22,116,676,382,415,360"}, "", ""},
    };
    for (const ExperienceCase& c : cases) {
        const ExperienceOutcome out = calculateExperience(c.in);
        EXPECT_EQ(joined(out), c.lines) << c.name;
        EXPECT_EQ(out.message, c.message) << c.name;
        EXPECT_EQ(out.error, c.error) << c.name;
    }
}

TEST(ExperienceCalculator, AmountIsTheEndOfTheLine) {
    const ExperienceOutcome out = calculateExperience({{"1", "2"}, {}, {}, 1, 50, "0"});
    ASSERT_FALSE(out.lines.empty());
    EXPECT_EQ(out.lines[0].text, "人物等级从1级升到2级所需经验为：");
    EXPECT_EQ(out.lines[0].amount, "40");
}

// ---- Fusion calculator ----

const PearlInput kDefaultA{"1", "80", "1160", "51"};
const PearlInput kDefaultB{"35", "60", "1274", "0"};

TEST(FusionCalculator, DefaultsGiveThePublishedFigures) {
    const FusionOutcome out = calculateFusion(kDefaultA, kDefaultB);
    ASSERT_TRUE(out.computed());
    EXPECT_EQ(out.fusionPoints, "294");
    EXPECT_EQ(out.a.experience, "2,923,057,762");
    EXPECT_EQ(out.b.experience, "138,000,986");
    EXPECT_EQ(out.a.energy, "1,214,920");
    EXPECT_EQ(out.b.energy, "274,355");
    EXPECT_EQ(out.a.pillGroups, "24");
    EXPECT_EQ(out.b.pillGroups, "5");
}

TEST(FusionCalculator, CostsAndPoints) {
    struct Case {
        const char* name;
        PearlInput a;
        PearlInput b;
        std::string points;
        PearlCost costA;
    };
    const Case cases[] = {
        {"initial above final gives negative costs",
         {"60", "35", "0", "0"},
         {"1", "1", "0", "0"},
         "0",
         {"-138,000,986", "-274,355", "-5"}},
        {"equal levels cost nothing", {"40", "40", "1000", "0"}, {"1", "1", "0", "0"}, "", {"0", "0", "0"}},
        {"half a point rounds up", {"1", "1", "0", "2"}, {"1", "1", "0", "0"}, "1", {"0", "0", "0"}},
        {"one and a half rounds up", {"1", "1", "0", "6"}, {"1", "1", "0", "0"}, "2", {"0", "0", "0"}},
        {"empty boxes read row 1", {"", "", "", ""}, {"", "", "", ""}, "0", {"0", "0", "0"}},
        {"levels use their whole part",
         {"35.9", "60.2", "0", "0"},
         {"1", "1", "0", "0"},
         "0",
         {"138,000,986", "274,355", "5"}},
    };
    for (const Case& c : cases) {
        const FusionOutcome out = calculateFusion(c.a, c.b);
        ASSERT_TRUE(out.computed()) << c.name;
        if (!c.points.empty()) {
            EXPECT_EQ(out.fusionPoints, c.points) << c.name;
        }
        EXPECT_EQ(out.a.experience, c.costA.experience) << c.name;
        EXPECT_EQ(out.a.energy, c.costA.energy) << c.name;
        EXPECT_EQ(out.a.pillGroups, c.costA.pillGroups) << c.name;
    }
}

TEST(FusionCalculator, RefusalsChangeNothing) {
    struct Case {
        PearlInput a;
        PearlInput b;
        std::string message;
        std::string error;
    };
    const Case cases[] = {
        {kDefaultA, {"35", "81", "1274", "0"}, "目前等级最高80", ""},
        {{"1", "81", "1160", "51"}, kDefaultB, "目前等级最高80", ""},
        {{"81", "80", "1160", "51"}, kDefaultB, "目前等级最高80", ""},
        {kDefaultA, {"200", "60", "1274", "0"}, "目前等级最高80", ""},
        {kDefaultA, {"35", "60", "12x", "0"}, "", "'12x' is not a valid floating point value"},
        {{"1", "80", "1160", "5,1"}, kDefaultB, "", "'5,1' is not a valid floating point value"},
    };
    for (const Case& c : cases) {
        const FusionOutcome out = calculateFusion(c.a, c.b);
        EXPECT_FALSE(out.computed());
        EXPECT_EQ(out.message, c.message);
        EXPECT_EQ(out.error, c.error);
        EXPECT_TRUE(out.fusionPoints.empty() && out.a.experience.empty() && out.b.pillGroups.empty());
    }
}

// ---- Huaxue pill calculator ----

// The grid as filled: 24 pill rows and one empty last row, two halves each.
std::vector<PillCell> gridCells() {
    std::vector<PillCell> cells;
    for (const HuaxueGridRow& r : HuaxueGridRows) {
        cells.push_back({"", std::string(r.leftExp)});
        cells.push_back({"", std::string(r.rightExp)});
    }
    cells.push_back({"", ""});
    cells.push_back({"", ""});
    return cells;
}

PillCell& cell(std::vector<PillCell>& cells, int row, int half) {
    return cells[std::size_t((row - 1) * 2 + half)];
}

TEST(HuaxueCalculator, TotalsSubtotalsAndPrice) {
    struct Quantity {
        int row;
        int half;
        const char* q;
    };
    struct Case {
        const char* name;
        std::vector<Quantity> quantities;
        std::string count;
        std::string total;
        std::string price;
    };
    const Case cases[] = {
        {"nothing typed", {}, "0", "0.000", "0.00"},
        {"ten of row 1", {{1, 0, "10"}}, "10", "105.600", "16.90"},
        {"both halves of row 7", {{7, 0, "2"}, {7, 1, "3"}}, "5", "80.724", "12.92"},
        {"a quantity without a pill counts only in the number", {{1, 1, "4"}, {25, 0, "1"}}, "5", "0.000", "0.00"},
        {"the most expensive pill", {{24, 1, "1000"}}, "1,000", "1,029,888.000", "164,782.08"},
    };
    for (const Case& c : cases) {
        std::vector<PillCell> cells = gridCells();
        for (const Quantity& q : c.quantities)
            cell(cells, q.row, q.half).quantity = q.q;
        const HuaxueOutcome out = calculateHuaxue(cells, "160");
        EXPECT_TRUE(out.error.empty()) << c.name;
        EXPECT_EQ(out.count.value_or("-"), c.count) << c.name;
        EXPECT_EQ(out.total.value_or("-"), c.total) << c.name;
        EXPECT_EQ(out.priceTotal.value_or("-"), c.price) << c.name;
    }
}

TEST(HuaxueCalculator, SubtotalsFollowTheirQuantities) {
    std::vector<PillCell> cells = gridCells();
    cell(cells, 7, 0).quantity = "2";
    cell(cells, 7, 1).quantity = "3";
    cell(cells, 1, 1).quantity = "9"; // no pill in that half
    cell(cells, 2, 0).quantity = "0";
    const HuaxueOutcome out = calculateHuaxue(cells, "160");
    ASSERT_EQ(out.subtotals.size(), cells.size());
    EXPECT_EQ(out.subtotals[(7 - 1) * 2], "18.480");
    EXPECT_EQ(out.subtotals[(7 - 1) * 2 + 1], "62.244");
    EXPECT_EQ(out.subtotals[1], std::nullopt);  // left as it is
    EXPECT_EQ(out.subtotals[2], "");            // zero pills: no subtotal
    EXPECT_EQ(out.subtotals[0], "");            // cleared quantity: cleared subtotal
    EXPECT_EQ(out.subtotals[48], std::nullopt); // the empty last row
}

TEST(HuaxueCalculator, ConversionErrorsStopWhereTheyOccur) {
    std::vector<PillCell> cells = gridCells();
    cell(cells, 1, 0).quantity = "10";
    HuaxueOutcome out = calculateHuaxue(cells, "");
    EXPECT_EQ(out.error, "'' is not a valid floating point value");
    EXPECT_EQ(out.count, "10");
    EXPECT_EQ(out.total, "105.600");
    EXPECT_EQ(out.priceTotal, std::nullopt);

    cell(cells, 3, 0).quantity = "2x"; // pasted
    out = calculateHuaxue(cells, "160");
    EXPECT_EQ(out.error, "'2x' is not a valid floating point value");
    EXPECT_EQ(out.subtotals.size(), 4u); // rows 1 and 2 were read
    EXPECT_EQ(out.subtotals[0], "105.600");
    EXPECT_EQ(out.count, std::nullopt);
    EXPECT_EQ(out.total, std::nullopt);
}

} // namespace
} // namespace qarvia::calc

#include "calc/ExpTables.h"

// Check values the tables carry; a mistyped entry stops the build here.

namespace qarvia::calc {
namespace {

constexpr double tableSum(const LevelTable& t) {
    double sum = 0;
    for (double v : t)
        sum += v;
    return sum;
}

constexpr bool startsWithTwoZeros(const LevelTable& t) {
    return t[0] == 0 && t[1] == 0;
}

static_assert(startsWithTwoZeros(RoleExpTable) && startsWithTwoZeros(PetExpTable) && startsWithTwoZeros(SoulExpTable));
static_assert(tableSum(RoleExpTable) == 5896376410.0);
static_assert(tableSum(PetExpTable) == 2166842699.0);
static_assert(tableSum(SoulExpTable) == 2923057762.0);
static_assert(levelSpan(RoleExpTable, 1, 2) == 40);
static_assert(levelSpan(RoleExpTable, 1, 80) == 5896376410.0);
static_assert(levelSpan(RoleExpTable, 79, 80) == 927633310);

constexpr bool danRowsFollowStarFactors() {
    for (int star = 0; star < 6; ++star) {
        for (int col = 0; col < 6; ++col) {
            if (DanExpTable[star][col] != DanExpTable[0][col] * DanStarFactors[star])
                return false;
        }
    }
    return true;
}
static_assert(danRowsFollowStarFactors());
static_assert(pillExperience(6, 80) == 10298880);

constexpr bool expStepIsSoulTable() {
    for (int level = 1; level <= MaxLevel; ++level) {
        if (YuanhunTable[level - 1].expStep != SoulExpTable[level])
            return false;
    }
    return true;
}
static_assert(expStepIsSoulTable());

constexpr bool totalsAre(int level, double fusion, double energy, double exp) {
    const FusionTotals t = fusionTotals(level);
    return t.fusion == fusion && t.energy == energy && t.exp == exp;
}
static_assert(totalsAre(1, 0, 0, 0));
static_assert(totalsAre(2, 3, 2, 36));
static_assert(totalsAre(10, 37, 177, 9389));
static_assert(totalsAre(50, 369, 125769, 52132548));
static_assert(totalsAre(75, 660, 846535, 1277036898));
static_assert(totalsAre(80, 725, 1214920, 2923057762.0));
static_assert(YuanhunTable[0].fusionStep == 0 && YuanhunTable[0].energyStep == 0 && YuanhunTable[0].expStep == 0);

// "20.748" -> 20748 thousandths; -1 for anything but digits with at most three decimals.
constexpr long long thousandths(std::string_view text) {
    long long value = 0;
    int decimals = -1;
    for (char c : text) {
        if (c == '.' && decimals < 0) {
            decimals = 0;
            continue;
        }
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
        if (decimals >= 0 && ++decimals > 3)
            return -1;
    }
    for (int d = decimals < 0 ? 0 : decimals; d < 3; ++d)
        value *= 10;
    return value;
}

// "一50" -> stars 1; the numerals are UTF-8 sequences of three bytes.
constexpr int starsOf(std::string_view type) {
    constexpr std::array<std::string_view, 6> numerals{"一", "二", "三", "四", "五", "六"};
    for (int i = 0; i < 6; ++i) {
        if (type.substr(0, numerals[i].size()) == numerals[i])
            return i + 1;
    }
    return 0;
}

constexpr int levelOf(std::string_view type) {
    int level = 0;
    for (char c : type.substr(3))
        level = level * 10 + (c - '0');
    return level;
}

constexpr bool gridTextMatchesPill(std::string_view type, std::string_view exp) {
    if (type.empty())
        return exp.empty();
    if (starsOf(type) == 0 || thousandths(exp) < 0)
        return false;
    const int column = danColumn(levelOf(type));
    if (column < 0)
        return true; // levels 35 and 55 are not in the pill table
    // experience / 10000 in thousandths is experience / 10
    return thousandths(exp) * 10 == static_cast<long long>(pillExperience(starsOf(type), levelOf(type)));
}

constexpr bool gridRowsMatchPillTable() {
    for (const HuaxueGridRow& r : HuaxueGridRows) {
        if (!gridTextMatchesPill(r.leftType, r.leftExp) || !gridTextMatchesPill(r.rightType, r.rightExp))
            return false;
    }
    return true;
}
static_assert(gridRowsMatchPillTable());

} // namespace
} // namespace qarvia::calc

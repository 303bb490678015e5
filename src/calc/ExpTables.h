#pragma once

// The game's level tables, compiled in and read-only. Every numeric entry is a whole number held as a
// double; sums over a table stay exact in 64-bit floating point. The static_asserts in ExpTables.cpp pin the
// check values the tables must satisfy, so a mistyped entry fails the build.

#include <array>
#include <string_view>

namespace qarvia::calc {

inline constexpr int MaxLevel = 80;

// Entry L is the experience needed to rise from level L-1 to L; entries 0 and 1 are both 0.
using LevelTable = std::array<double, MaxLevel + 1>;

// clang-format off
inline constexpr LevelTable RoleExpTable{
    0, 0, 40, 160, 300, 560, 800, 1200, 1680, 2240,
    2880, 6480, 10580, 14900, 19800, 26210, 32400, 40390, 49250, 58970,
    67900, 84480, 102650, 122400, 143740, 166660, 194400, 220750, 248690, 278210,
    313610, 355680, 405120, 452180, 507380, 565660, 620400, 684430, 751540, 813960,
    886820, 976320, 1103540, 1237100, 1377000, 1523230, 1675800, 1800000, 2014130, 2186500,
    2365200, 3869710, 4344520, 4811760, 5296570, 5832860, 6355010, 6933020, 7492500, 8112240,
    8709050, 9456480, 14110270, 17991170, 27022030, 38967940, 55286160, 76235900, 104310910, 140698370,
    185495900, 190917170, 264660480, 302309100, 352222320, 412787340, 490000000, 650000000, 730000000, 820000000,
    927633310,
};

inline constexpr LevelTable PetExpTable{
    0, 0, 16, 48, 80, 140, 192, 280, 384, 504,
    640, 2304, 3696, 5152, 6800, 8960, 11040, 13728, 16704, 19968,
    22960, 28512, 34592, 41200, 48336, 56000, 65280, 74088, 83424, 93288,
    105120, 253872, 325120, 386448, 456576, 531440, 604608, 688352, 776832, 861840,
    959200, 1082992, 1213056, 1349392, 1492000, 1640880, 1796032, 1957456, 2140224, 2314976,
    2496000, 3391080, 3695160, 3986980, 4288560, 4626800, 4949120, 5310540, 5653600, 6038200,
    6402000, 6857549, 7327680, 7775040, 10236780, 14143840, 19824700, 28481760, 37338080, 49523920,
    65093160, 80520074, 105864192, 120923640, 140888928, 165114936, 190147584, 216766608, 243493200, 274897152,
    309211104,
};

inline constexpr LevelTable SoulExpTable{
    0, 0, 36, 151, 284, 532, 761, 1143, 1601, 2135,
    2746, 6181, 10092, 14214, 18889, 25005, 30911, 38534, 46987, 56261,
    64781, 80600, 97936, 116780, 137140, 159008, 185475, 210616, 237273, 265433,
    299213, 563852, 695193, 826745, 977149, 1137724, 1294693, 1474331, 1664139, 1846525,
    2055397, 2320999, 2600073, 2892619, 3198618, 3518089, 3851013, 4197408, 4589591, 4964600,
    5353072, 6464980, 7045034, 7601733, 8177055, 8822294, 9437192, 10126663, 10781137, 11514840,
    12208891, 13077961, 13974892, 14828391, 15778255, 16972608, 23789640, 34178112, 44805696, 59428224,
    78111792, 107360032, 141152256, 161261520, 187851904, 220153248, 253530112, 289022144, 324657600, 366529536,
    412281472,
};

// Experience of one huaxue pill: row = stars 1 to 6 (index 0 to 5), column = pill level 50, 60, 65, 70, 75, 80.
inline constexpr std::array<int, 6> DanLevels{50, 60, 65, 70, 75, 80};
inline constexpr std::array<double, 6> DanStarFactors{1, 2, 3, 6, 12, 36};
inline constexpr std::array<std::array<double, 6>, 6> DanExpTable{{
    {92400, 143280, 160560, 207480, 228480, 286080},
    {184800, 286560, 321120, 414960, 456960, 572160},
    {277200, 429840, 481680, 622440, 685440, 858240},
    {554400, 859680, 963360, 1244880, 1370880, 1716480},
    {1108800, 1719360, 1926720, 2489760, 2741760, 3432960},
    {3326400, 5158080, 5780160, 7469280, 8225280, 10298880},
}};

// Step columns of the soul-pearl fusion table by level (index 0 is unused: level 0 does not exist).
inline constexpr LevelTable FusionStepTable{
    0, 0, 3, 3, 4, 4, 4, 4, 5, 5,
    5, 5, 6, 6, 6, 6, 6, 7, 7, 7,
    7, 7, 7, 7, 8, 8, 8, 8, 8, 8,
    8, 9, 9, 9, 9, 9, 9, 9, 9, 9,
    10, 10, 10, 10, 10, 10, 10, 10, 10, 10,
    11, 11, 11, 11, 11, 11, 11, 11, 11, 11,
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
    12, 12, 12, 12, 12, 12, 13, 13, 13, 13,
    13,
};

inline constexpr LevelTable EnergyStepTable{
    0, 0, 2, 5, 8, 13, 17, 23, 29, 36,
    44, 65, 90, 119, 153, 192, 235, 283, 335, 393,
    455, 538, 630, 731, 840, 958, 976, 1037, 1160, 1291,
    1429, 1660, 1916, 2197, 2502, 2832, 3186, 3564, 3967, 4394,
    4847, 5370, 5925, 6514, 7134, 7787, 8474, 9192, 9944, 10729,
    11548, 12448, 13390, 14373, 15396, 16460, 17566, 18713, 19901, 21131,
    22402, 23765, 25178, 26640, 28151, 29711, 31321, 32981, 34690, 36449,
    38258, 40374, 43722, 47976, 52492, 57278, 62341, 67688, 73327, 79520,
    85509,
};
// clang-format on

struct YuanhunRow {
    double fusionStep = 0;
    double fusionTotal = 0;
    double energyStep = 0;
    double energyTotal = 0;
    double expStep = 0;
    double expTotal = 0;
};

// One row per pearl level 1 to 80 (index 0 is level 1); each total is the running sum of its step column,
// and expStep is the soul-pearl level table.
inline constexpr std::array<YuanhunRow, MaxLevel> YuanhunTable = [] {
    std::array<YuanhunRow, MaxLevel> rows{};
    YuanhunRow running;
    for (int level = 1; level <= MaxLevel; ++level) {
        running.fusionStep = FusionStepTable[level];
        running.energyStep = EnergyStepTable[level];
        running.expStep = SoulExpTable[level];
        running.fusionTotal += running.fusionStep;
        running.energyTotal += running.energyStep;
        running.expTotal += running.expStep;
        rows[level - 1] = running;
    }
    return rows;
}();

// Rows that pre-fill the huaxue pill grid: type label and experience per pill (in 万) for the left and the right
// half. The experience texts are shown exactly as written.
struct HuaxueGridRow {
    std::string_view leftType;
    std::string_view leftExp;
    std::string_view rightType;
    std::string_view rightExp;
};

inline constexpr std::array<HuaxueGridRow, 24> HuaxueGridRows{{
    {"一55", "10.56", "", ""},
    {"二55", "21.12", "", ""},
    {"三55", "31.68", "", ""},
    {"四55", "63.36", "", ""},
    {"五55", "126.72", "", ""},
    {"六55", "380.16", "六35", "59.22"},
    {"一50", "9.24", "一70", "20.748"},
    {"二50", "18.48", "二70", "41.496"},
    {"三50", "27.72", "三70", "62.244"},
    {"四50", "55.44", "四70", "124.488"},
    {"五50", "110.88", "五70", "248.976"},
    {"六50", "332.64", "六70", "746.928"},
    {"一60", "14.328", "一75", "22.848"},
    {"二60", "28.656", "二75", "45.696"},
    {"三60", "42.984", "三75", "68.544"},
    {"四60", "85.968", "四75", "137.088"},
    {"五60", "171.936", "五75", "274.176"},
    {"六60", "515.808", "六75", "822.528"},
    {"一65", "16.056", "一80", "28.608"},
    {"二65", "32.112", "二80", "57.216"},
    {"三65", "48.168", "三80", "85.824"},
    {"四65", "96.336", "四80", "171.648"},
    {"五65", "192.672", "五80", "343.296"},
    {"六65", "578.016", "六80", "1029.888"},
}};

// The experience needed to rise from level a to level b: the sum of entries a+1 through b. Outside
// 1 <= a < b <= 80 there is no such span and the result is 0; no entry outside the table is ever read.
constexpr double levelSpan(const LevelTable& table, int a, int b) {
    if (a < 1 || b > MaxLevel || a >= b)
        return 0;
    double sum = 0;
    for (int level = a + 1; level <= b; ++level)
        sum += table[level];
    return sum;
}

// The DanExpTable column of a pill level, or -1 for a level the table does not hold.
constexpr int danColumn(int pillLevel) {
    for (int i = 0; i < int(DanLevels.size()); ++i) {
        if (DanLevels[i] == pillLevel)
            return i;
    }
    return -1;
}

// Experience of one pill with the given stars (1 to 6) and level (50, 60, 65, 70, 75 or 80); 0 for any other.
constexpr double pillExperience(int stars, int pillLevel) {
    const int column = danColumn(pillLevel);
    if (stars < 1 || stars > 6 || column < 0)
        return 0;
    return DanExpTable[stars - 1][column];
}

struct FusionTotals {
    double fusion = 0;
    double energy = 0;
    double exp = 0;
};

// The three totals of a fusion-table row. Levels below 1 read row 1 (all zeros), levels above 80 row 80.
constexpr FusionTotals fusionTotals(int level) {
    const int row = level < 1 ? 1 : level > MaxLevel ? MaxLevel : level;
    const YuanhunRow& r = YuanhunTable[row - 1];
    return {r.fusionTotal, r.energyTotal, r.expTotal};
}

} // namespace qarvia::calc

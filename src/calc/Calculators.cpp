#include "calc/Calculators.h"

#include "calc/ExpTables.h"
#include "calc/Numbers.h"

#include <cmath>

namespace qarvia::calc {
namespace {

enum class SectionResult { Written, Skipped, Stop };

// One level section of the experience calculator.
SectionResult levelSection(const LevelPair& pair, const LevelTable& table, const char* subject,
                           ExperienceOutcome& out) {
    const int a = toIntegerOrZero(pair.start);
    const int b = toIntegerOrZero(pair.target);
    if (a <= 0 || b <= 0)
        return SectionResult::Skipped;
    if (a < b && b <= MaxLevel) {
        out.lines.push_back(
            {std::string(subject) + "等级从" + std::to_string(a) + "级升到" + std::to_string(b) + "级所需经验为：",
             formatNumber(levelSpan(table, a, b), 0)});
        return SectionResult::Written;
    }
    if (b > MaxLevel) {
        out.message = "最高80级";
        return SectionResult::Stop;
    }
    if (b < a) {
        out.message = "等级输入不对";
        return SectionResult::Stop;
    }
    return SectionResult::Skipped; // a == b
}

} // namespace

ExperienceOutcome calculateExperience(const ExperienceInput& in) {
    ExperienceOutcome out;
    try {
        if (levelSection(in.role, RoleExpTable, "人物", out) == SectionResult::Stop ||
            levelSection(in.pet, PetExpTable, "灵兽", out) == SectionResult::Stop ||
            levelSection(in.soul, SoulExpTable, "元魂珠", out) == SectionResult::Stop)
            return out;
        const int n = toInteger(in.count);
        out.lines.push_back({"化雪丹总经验为：", formatNumber(double(n) * pillExperience(in.stars, in.pillLevel), 0)});
    } catch (const ConvertError& e) {
        out.error = e.what();
    }
    return out;
}

namespace {

struct PearlValues {
    double initialLevel;
    double finalLevel;
    double growth;
    double points;
};

PearlValues readPearl(const PearlInput& p) {
    return {toFloatOrZero(p.initialLevel), toFloatOrZero(p.finalLevel), toFloatOrZero(p.growth),
            toFloatOrZero(p.points)};
}

// A typed level as a table row: its whole part; fusionTotals() reads levels below 1 as row 1.
int row(double level) {
    return level < 1 ? 1 : int(std::trunc(level));
}

PearlCost cost(const PearlValues& p) {
    const FusionTotals from = fusionTotals(row(p.initialLevel));
    const FusionTotals to = fusionTotals(row(p.finalLevel));
    const double energy = to.energy - from.energy;
    return {formatNumber(to.exp - from.exp, 0), formatNumber(energy, 0), formatNumber(energy / 50000, 0)};
}

} // namespace

FusionOutcome calculateFusion(const PearlInput& a, const PearlInput& b) {
    FusionOutcome out;
    PearlValues pa{};
    PearlValues pb{};
    try {
        pa = readPearl(a);
        pb = readPearl(b);
    } catch (const ConvertError& e) {
        out.error = e.what();
        return out;
    }
    // No row exists above level 80, for the initial level as for the final one. NaN cannot be typed.
    if (pa.finalLevel > MaxLevel || pb.finalLevel > MaxLevel || pa.initialLevel > MaxLevel ||
        pb.initialLevel > MaxLevel) {
        out.message = "目前等级最高80";
        return out;
    }
    const double points =
        ((fusionTotals(row(pa.finalLevel)).fusion * pa.growth + fusionTotals(row(pb.finalLevel)).fusion * pb.growth) /
             1290 +
         (pa.points + pb.points)) /
        4;
    out.fusionPoints = formatNumber(points, 0);
    out.a = cost(pa);
    out.b = cost(pb);
    return out;
}

HuaxueOutcome calculateHuaxue(const std::vector<PillCell>& cells, const std::string& unitPrice) {
    HuaxueOutcome out;
    double count = 0;
    double total = 0;
    try {
        for (const PillCell& cell : cells) {
            double q = 0;
            if (!cell.quantity.empty()) {
                q = toFloat(cell.quantity);
                count += q;
            }
            if (cell.experience.empty()) {
                out.subtotals.emplace_back(std::nullopt);
                continue;
            }
            const double s = toFloat(cell.experience) * q;
            total += s;
            // A cleared quantity clears its subtotal, so every subtotal shown belongs to the totals.
            out.subtotals.emplace_back(s > 0 ? formatNumber(s, 3) : std::string());
        }
        out.count = formatNumber(count, 0);
        out.total = formatNumber(total, 3);
        // The price label says gold per 亿 while the total is in 万, yet the published figures have always
        // divided by 1,000; players compare against them, so the divisor stays.
        out.priceTotal = formatNumber(toFloat(unitPrice) * total / 1000, 2);
    } catch (const ConvertError& e) {
        out.error = e.what();
    }
    return out;
}

} // namespace qarvia::calc

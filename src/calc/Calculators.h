#pragma once

// The three calculators without their windows: each takes the texts of its input boxes and returns what the
// page shows. Texts are UTF-8.

#include <optional>
#include <string>
#include <vector>

namespace qarvia::calc {

// ---- Experience calculator -------------------------------------------------------------------------------

struct LevelPair {
    std::string start;
    std::string target;
};

struct ExperienceInput {
    LevelPair role;
    LevelPair pet;
    LevelPair soul;
    int stars = 1;      // 1 to 6
    int pillLevel = 50; // 50, 60, 65, 70 or 80
    std::string count = "0";
};

// A result sentence: its text up to the amount, then the amount (shown in red).
struct ResultLine {
    std::string text;
    std::string amount;
};

struct ExperienceOutcome {
    std::vector<ResultLine> lines; // in order: character, spirit beast, soul pearl, pill
    std::string message;           // a wrong-input message shown after the lines, or empty
    std::string error;             // a conversion error shown after the lines, or empty
};

ExperienceOutcome calculateExperience(const ExperienceInput& in);

// ---- Soul-pearl fusion calculator -------------------------------------------------------------------------

struct PearlInput {
    std::string initialLevel;
    std::string finalLevel;
    std::string growth;
    std::string points;
};

struct PearlCost {
    std::string experience;
    std::string energy;
    std::string pillGroups;
};

struct FusionOutcome {
    std::string message; // wrong input: nothing else changes
    std::string error;   // conversion error: nothing else changes
    std::string fusionPoints;
    PearlCost a;
    PearlCost b;
    bool computed() const { return message.empty() && error.empty(); }
};

FusionOutcome calculateFusion(const PearlInput& a, const PearlInput& b);

// ---- Huaxue pill calculator -------------------------------------------------------------------------------

// One half of a grid row: the typed quantity and the experience of one pill (in 万), empty where none.
struct PillCell {
    std::string quantity;
    std::string experience;
};

struct HuaxueOutcome {
    // One entry per cell read, in reading order: the new subtotal text, "" to clear it, or nullopt to leave the
    // cell as it is (a half with no pill). Shorter than the input when a quantity failed to convert.
    std::vector<std::optional<std::string>> subtotals;
    std::optional<std::string> count;      // written once every cell was read
    std::optional<std::string> total;      // in 万
    std::optional<std::string> priceTotal; // written once the price was read
    std::string error;
};

// cells in reading order: row by row, left half before right half.
HuaxueOutcome calculateHuaxue(const std::vector<PillCell>& cells, const std::string& unitPrice);

} // namespace qarvia::calc

#pragma once

// Rule checking: IJsonValue::Validate(rules, defs, callback, sender) checks a value against a rule document
// and reports every failure through the callback with an error code and the path of the failing value
// ("" for the value itself, then ".name" for members and "[i]" for items, e.g. "roles[2].id"). It returns
// true when nothing failed. ValidateText does the same with the rule and definition documents as JSON text.
//
// A rule is an object; every key is optional:
//   "type"      what the value must be:
//                 "str" a string           "int" an integer          "float" a double or currency value
//                 "number" int or float    "text" a string or number "bool" a boolean
//                 "map" an object          "seq" an array            "scalar" anything but map or seq
//                 "any" anything (the default; "map" when "mapping" is given, "seq" when "sequence" is)
//   "required"  true: the value must be present and not null. A missing or null value that is not
//               required passes every other check.
//   "mapping"   for a map: an object of member name -> rule for that member (other members are free).
//   "sequence"  for a seq: an array holding one rule, applied to every item.
//   "unique"    true on a seq: no two items may be equal (same compact JSON text).
//   "enum"      an array of the allowed values (equal compact JSON text).
//   "range"     {"min", "max", "minex", "maxex"}: bounds on a number (numerically) or on a string
//               (ordinal order of the texts); "min"/"max" include the bound, "minex"/"maxex" exclude it.
//   "length"    the same four bounds on the length of a string (units), a seq (items) or a map (members).
//   "name"      the rule's name, by which "inherit" finds it in the definitions.
//   "inherit"   the name of a rule in the definitions whose keys apply where this rule has none.
// The definitions document is an object of name -> rule, or an array of rules that carry a "name".
// A rule that cannot be used (an unknown type name, an "inherit" that names no rule or loops) is reported
// with veRule at the path where it applies.

#include "json/JsonValue.h"

namespace qarvia::json {

enum TJsonValidateError : uint8_t {
    veType = 1,     // the value is not of the rule's type
    veRequired = 2, // a required value is missing or null
    veEnum = 3,     // the value is not one of the rule's "enum" values
    veRange = 4,    // the value is outside the rule's "range"
    veLength = 5,   // the length is outside the rule's "length"
    veUnique = 6,   // a sequence holds the same item twice
    veRule = 7,     // the rule itself cannot be used
};

} // namespace qarvia::json

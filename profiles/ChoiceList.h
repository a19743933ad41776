// Choice lists of a profile: items separated by ",", each either
// "value$label" (split at the first "$") or a value alone whose label is the
// value itself. Values and labels are used exactly as written (no trimming,
// case-sensitive). An empty item between two commas has empty value and
// label; a comma at the very end adds no item; an empty list has no items.
// Example: for "p$P,q$Q,r" LabelOfValue("r") is "r", ValueOfLabel("Q") is
// "q" and LabelOfValue("x") is empty.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct ChoiceItem {
    std::u16string value;
    std::u16string label;
};

class ChoiceList {
public:
    static std::vector<ChoiceItem> Items(std::u16string_view list);
    // The label of the first item whose value equals `value`; empty if none.
    static std::u16string LabelOfValue(std::u16string_view list, std::u16string_view value);
    // The value of the first item whose label equals `label`; empty if none.
    static std::u16string ValueOfLabel(std::u16string_view list, std::u16string_view label);
};

#include "profiles/ChoiceList.h"

std::vector<ChoiceItem> ChoiceList::Items(std::u16string_view list) {
    std::vector<ChoiceItem> items;
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t comma = list.find(u',', start);
        if (comma == std::u16string_view::npos) comma = list.size();
        std::u16string_view item = list.substr(start, comma - start);
        std::size_t dollar = item.find(u'$');
        if (dollar == std::u16string_view::npos)
            items.push_back({std::u16string(item), std::u16string(item)});
        else
            items.push_back(
                {std::u16string(item.substr(0, dollar)), std::u16string(item.substr(dollar + 1))});
        start = comma + 1;
    }
    return items;
}

std::u16string ChoiceList::LabelOfValue(std::u16string_view list, std::u16string_view value) {
    for (const ChoiceItem& item : Items(list))
        if (item.value == value) return item.label;
    return {};
}

std::u16string ChoiceList::ValueOfLabel(std::u16string_view list, std::u16string_view label) {
    for (const ChoiceItem& item : Items(list))
        if (item.label == label) return item.value;
    return {};
}

#include "cli/MouseTypeNames.h"

#include "device/HexText.h"

#include <vector>

namespace vrax {

namespace {

// "A", "A and B", "A, B and C"; `last` joins the last two.
std::string Joined(const std::vector<std::string>& words, const std::string& last) {
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) {
            text += i + 1 == words.size() ? last : ", ";
        }
        text += words[i];
    }
    return text;
}

// The names of the types that share the first type's value of `key`, in table order, each
// group once.
template <typename Key>
std::vector<std::pair<Key, std::vector<std::string>>> GroupedBy(Key MouseType::*key,
                                                                bool (*wanted)(const MouseType&)) {
    std::vector<std::pair<Key, std::vector<std::string>>> groups;
    for (const MouseType* type : KnownMouseTypes()) {
        if (!wanted(*type)) {
            continue;
        }
        auto group = groups.begin();
        while (group != groups.end() && group->first != type->*key) {
            ++group;
        }
        if (group == groups.end()) {
            groups.push_back({type->*key, {}});
            group = groups.end() - 1;
        }
        group->second.push_back(type->name);
    }
    return groups;
}

} // namespace

std::string IcTypeNameList() {
    std::vector<std::string> names;
    for (const MouseType* type : KnownMouseTypes()) {
        names.push_back(type->name);
    }
    return Joined(names, " or ");
}

std::string TypeNamesWith(bool JobTraits::*trait, bool value) {
    std::vector<std::string> names;
    for (const MouseType* type : KnownMouseTypes()) {
        if (type->jobs.*trait == value) {
            names.push_back(type->name);
        }
    }
    return Joined(names, " and ");
}

std::string ProductIdList() {
    std::vector<std::string> items;
    for (const auto& [productId, names] :
         GroupedBy(&MouseType::productId, [](const MouseType&) { return true; })) {
        items.push_back(HexText(productId, 4) + " for " + Joined(names, " and "));
    }
    return Joined(items, ", ");
}

std::string ReleaseNumberList() {
    std::vector<std::string> items;
    for (const auto& [releaseNumber, names] :
         GroupedBy(&MouseType::releaseNumber,
                   [](const MouseType& type) { return type.releaseMustMatch; })) {
        items.push_back("for " + Joined(names, " and ") + ", release number " +
                        HexText(releaseNumber, 4));
    }
    return Joined(items, " and ");
}

} // namespace vrax

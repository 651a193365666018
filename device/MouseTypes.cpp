#include "MouseTypes.h"

#include <cctype>
#include <deque>

namespace vrax {

namespace {

// A deque: the types' addresses stay valid as more register.
std::deque<MouseType>& RegisteredTypes() {
    static std::deque<MouseType> types;
    return types;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace

void RegisterMouseType(const MouseType& type) {
    RegisteredTypes().push_back(type);
}

std::vector<const MouseType*> KnownMouseTypes() {
    std::vector<const MouseType*> types;
    for (const MouseType& type : MouseTypes) {
        types.push_back(&type);
    }
    for (const MouseType& type : RegisteredTypes()) {
        types.push_back(&type);
    }
    return types;
}

const MouseType* FindMouseType(int icType) {
    for (const MouseType& type : MouseTypes) {
        if (type.icType == icType) {
            return &type;
        }
    }
    for (const MouseType& type : RegisteredTypes()) {
        if (type.icType == icType) {
            return &type;
        }
    }
    return nullptr;
}

const MouseType* FindMouseTypeByName(std::string_view name) {
    for (const MouseType* type : KnownMouseTypes()) {
        if (SameName(type->name, name)) {
            return type;
        }
    }
    return nullptr;
}

} // namespace vrax

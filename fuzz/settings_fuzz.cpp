// Feeds arbitrary bytes to Settings::ConvertFromString and checks what must
// hold for any input: nothing crashes; a refused text leaves the tree exactly
// as it was (values, versions, identifiers, the identifier counter); an
// accepted text reads into a tree whose string form reads back into the same
// tree (keys, values, versions, order; identifiers are handed out afresh).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "settings/Settings.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// With `exact` false, two trees compare as a tree and the tree read back
// from its text: identifiers are not compared, and "{null}" (which is not
// written) equals the empty value.
std::string_view Value(const Settings& node, bool exact) {
    const std::string_view value = node;
    return !exact && value == "{null}" ? std::string_view() : value;
}

bool Same(const Settings& a, const Settings& b, bool exact = true) {
    if (Value(a, exact) != Value(b, exact) || a.Version() != b.Version() || (exact && a.GetID() != b.GetID()) ||
        a.GetVariablesCount() != b.GetVariablesCount() ||
        a.GetUnnamedVariablesCount() != b.GetUnnamedVariablesCount()) {
        return false;
    }
    for (auto x = a.begin(), y = b.begin(); x != a.end(); ++x, ++y) {
        if (x->first != y->first || !Same(x->second, y->second, exact)) return false;
    }
    for (auto x = a.begin_unnamed(), y = b.begin_unnamed(); x != a.end_unnamed(); ++x, ++y) {
        if (!Same(*x, *y, exact)) return false;
    }
    return true;
}

// The identifier the node would hand to its next child.
std::uint64_t NextId(const Settings& node) {
    Settings copy(node);
    return copy.AddUnnamed().GetID();
}

const Settings& Existing() {
    static const Settings tree = [] {
        Settings root(4);
        root = "top";
        root.Version(2);
        root["Window"]["Rect"] = CRect(1, 2, 3, 4);
        root.AddUnnamed() = 2.5;
        root["Name"] = L"\u0141\u00F3d\u017A";
        return root;
    }();
    return tree;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Settings tree = Existing();
    if (!tree.ConvertFromString(text)) {
        Check(Same(tree, Existing()));
        Check(NextId(tree) == NextId(Existing()));
        return 0;
    }
    Check(std::string_view(tree).empty());
    Check(tree.GetID() == Existing().GetID());

    const std::string printed = tree.ConvertToString();
    Settings again;
    Check(again.ConvertFromString(printed));
    Check(Same(again, tree, false));
    Check(again.ConvertToString() == printed);
    return 0;
}

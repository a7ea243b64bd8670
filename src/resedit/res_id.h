#pragma once
// Resource types and names, shared by the resource editor's interface (resource_edit.h) and its
// tree (resource_tree.h), so that the tree does not depend on the editor built over it.

#include <cstdint>
#include <string>
#include <utility>

namespace nimbrel::resedit {

// A resource type or name: an integer ID or a UTF-16 name. A named entry and an ID entry never
// match each other: the name u"1" is not the ID 1. Names match exactly, case included.
class ResId {
public:
    ResId(std::uint32_t id) : id_(id) {}  // NOLINT: IDs convert implicitly, as in the system's API
    ResId(int id) : id_(static_cast<std::uint32_t>(id)) {}
    ResId(const char16_t* name) : name_(name), isName_(true) {}
    ResId(std::u16string name) : name_(std::move(name)), isName_(true) {}

    bool IsName() const { return isName_; }
    std::uint32_t Id() const { return id_; }
    const std::u16string& Name() const { return name_; }

private:
    std::uint32_t id_ = 0;
    std::u16string name_;
    bool isName_ = false;
};

inline constexpr std::uint32_t RT_ICON = 3;
inline constexpr std::uint32_t RT_GROUP_ICON = 14;

}  // namespace nimbrel::resedit

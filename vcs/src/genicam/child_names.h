#pragma once
// The element names the engine reads, as small keys. A description's elements
// are classified once when the document is built; every later lookup compares
// one byte instead of a name. A key is made from a literal at compile time, so
// a misspelt name is a build error rather than a lookup that never matches.

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace GenICam::impl {

inline constexpr std::array<std::string_view, 88> known_child_names = {
    // Node elements.
    "Boolean", "Category", "Command", "Converter", "Enumeration", "EnumEntry", "Float", "FloatReg", "Group",
    "IntConverter", "IntReg", "IntSwissKnife", "Integer", "MaskedIntReg", "Port", "Register", "String", "StringReg",
    "StructEntry", "StructReg", "SwissKnife",
    // Common node children.
    "Extension", "ToolTip", "Description", "DisplayName", "DocuURL", "Visibility", "IsDeprecated", "Streamable",
    "EventID", "ImposedAccessMode", "pIsImplemented", "pIsAvailable", "pIsLocked", "pInvalidator", "pAlias",
    "pCastAlias", "pBlockPolling", "pSelected", "pFeature",
    // Values and their limits.
    "Value", "pValue", "pValueCopy", "pIndex", "ValueIndexed", "pValueIndexed", "ValueDefault", "pValueDefault",
    "Min", "pMin", "Max", "pMax", "Inc", "pInc", "Default", "pDefault", "Unit", "Representation", "DisplayNotation",
    "DisplayPrecision", "PollingTime", "OnValue", "OffValue", "CommandValue", "pCommandValue", "NumericValue",
    "IsSelfClearing",
    // Formulas.
    "Formula", "FormulaTo", "FormulaFrom", "Expression", "Constant", "pVariable",
    // Registers and ports.
    "Address", "pAddress", "Length", "pLength", "pPort", "AccessMode", "Cachable", "Endianess", "Sign", "Bit", "LSB",
    "MSB", "ChunkID", "pChunkID", "VCDIsDebugProperty",
};

class child_key {
public:
    // Made only from a name in `known_child_names`; any other name does not
    // compile.
    consteval child_key(const char* name)
        : index_(index_of(name))
    {
    }

    static constexpr child_key from_index(std::uint8_t index) noexcept { return child_key(index, 0); }

    constexpr std::uint8_t index() const noexcept { return index_; }
    constexpr std::string_view name() const noexcept { return known_child_names[index_]; }
    // The name as a zero-terminated text (every entry above is a literal).
    constexpr const char* c_str() const noexcept { return known_child_names[index_].data(); }
    friend constexpr bool operator==(child_key, child_key) = default;

private:
    constexpr child_key(std::uint8_t index, int) noexcept
        : index_(index)
    {
    }

    static consteval std::uint8_t index_of(std::string_view name)
    {
        for (std::size_t i = 0; i < known_child_names.size(); ++i) {
            if (known_child_names[i] == name) {
                return static_cast<std::uint8_t>(i);
            }
        }
        throw std::logic_error("not a known element name");
    }

    std::uint8_t index_;
};

// Index of an element name that the engine reads; `unknown_child` for any other.
inline constexpr std::uint8_t unknown_child = 0xFF;
std::uint8_t classify_child_name(const char* name) noexcept;

} // namespace GenICam::impl

#pragma once
// Description records of the GenApi nodes that the service publishes itself.
// The feature builders fill one record per node; the element writers
// (gcxml_writer.h, gcxml_node_writers.h) turn each into one XML element.
//
// Records are plain values: strings are UTF-8, lists keep the caller's order,
// an optional field that is absent writes nothing. Enumerators are stored with
// their wire width and may hold any value: one outside the listed values writes
// an empty text instead of being rejected.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace gcxml {

// Any value other than yes reads as "No".
enum class yes_no : std::int32_t { yes = 0, no = 1 };

// "-1", "0", "+1".
enum class merge_priority_kind : std::int32_t { low = 0, normal = 1, high = 2 };

enum class visibility_kind : std::int32_t { beginner = 0, expert = 1, guru = 2, invisible = 3 };

enum class access_mode_kind : std::uint8_t { rw = 0, ro = 1, wo = 2 };

enum class cachable_kind : std::uint8_t { write_through = 0, write_around = 1, no_cache = 2 };

// Any value other than is_signed reads as "Unsigned".
enum class sign_kind : std::uint8_t { is_signed = 0, is_unsigned = 1 };

enum class endianess_kind : std::uint8_t { little_endian = 0, big_endian = 1 };

enum class int_representation : std::int32_t {
    linear = 0,
    logarithmic = 1,
    boolean = 2,
    pure_number = 3,
    hex_number = 4,
    ipv4_address = 5,
    mac_address = 6,
};

enum class float_representation : std::int32_t { linear = 0, logarithmic = 1, pure_number = 2 };

enum class display_notation_kind : std::int32_t { automatic = 0, fixed = 1, scientific = 2 };

// How a value's text is meant: absent, the name of a node ("p" + element
// name), or the value itself. Every value other than none and link is a literal.
enum class ref_kind : std::int32_t { none = 0, link = 1, literal = 2 };

// A literal or a link, written only when its kind is not none and its text
// is not empty.
struct value_ref {
    std::string text;
    ref_kind kind = ref_kind::none;

    static value_ref link(std::string node_name) { return {std::move(node_name), ref_kind::link}; }
    static value_ref literal(std::string value) { return {std::move(value), ref_kind::literal}; }
};

// One child element of Extension: element name and text.
struct extension_entry {
    std::string name;
    std::string text;
};

// One pVariable, Constant or Expression of a swiss knife: name goes to the
// element's Name attribute, text is the element's text (a node name for a
// variable).
struct named_text {
    std::string name;
    std::string text;
};

// What every node carries.
struct node_desc {
    node_desc() = default;
    explicit node_desc(std::string node_name) : name(std::move(node_name)) {}

    std::string name;
    std::string name_space;
    std::optional<merge_priority_kind> merge_priority;
    std::optional<yes_no> expose_static;
    std::vector<extension_entry> extensions;
    std::string tool_tip;
    std::string description;
    std::string display_name;
    std::optional<visibility_kind> visibility;
    std::string docu_url;
    std::optional<yes_no> is_deprecated;
    std::string is_implemented;
    std::string is_available;
    std::string is_locked;
    std::optional<access_mode_kind> imposed_access_mode;
};

struct boolean_desc : node_desc {
    boolean_desc() = default;
    explicit boolean_desc(std::string node_name) : node_desc(std::move(node_name)) {}

    std::vector<std::string> invalidators;
    std::optional<yes_no> streamable;
    value_ref value;
    std::string default_text;
    ref_kind default_kind = ref_kind::none;
    bool do_not_serialize = false;
};

struct integer_desc : node_desc {
    integer_desc() = default;
    explicit integer_desc(std::string node_name) : node_desc(std::move(node_name)) {}

    std::vector<std::string> invalidators;
    std::optional<yes_no> streamable;
    value_ref value;
    value_ref min;
    value_ref max;
    value_ref inc;
    std::string unit;
    std::optional<int_representation> representation;
    std::string default_text;
    ref_kind default_kind = ref_kind::none;
    bool do_not_serialize = false;
};

struct float_desc : node_desc {
    float_desc() = default;
    explicit float_desc(std::string node_name) : node_desc(std::move(node_name)) {}

    std::vector<std::string> invalidators;
    std::optional<yes_no> streamable;
    value_ref value;
    value_ref min;
    value_ref max;
    value_ref inc;
    std::string unit;
    std::optional<float_representation> representation;
    std::optional<display_notation_kind> display_notation;
    std::optional<std::int64_t> display_precision;
    std::string default_text;
    ref_kind default_kind = ref_kind::none;
    bool do_not_serialize = false;
};

struct enum_entry_desc : node_desc {
    enum_entry_desc() = default;
    explicit enum_entry_desc(std::string node_name) : node_desc(std::move(node_name)) {}

    std::vector<std::string> invalidators;
    std::string value; // the entry's integer value as text
    std::optional<float> numeric_value;
    std::string symbolic;
    std::optional<yes_no> is_self_clearing;
};

struct enumeration_desc : node_desc {
    enumeration_desc() = default;
    explicit enumeration_desc(std::string node_name) : node_desc(std::move(node_name)) {}

    std::vector<std::string> invalidators;
    std::optional<yes_no> streamable;
    std::vector<enum_entry_desc> entries;
    value_ref value;
    // The name of the default entry: always written as "Default" (never as a
    // link), when not empty.
    std::string default_text;
    bool do_not_serialize = false;
};

struct int_swissknife_desc : node_desc {
    int_swissknife_desc() = default;
    explicit int_swissknife_desc(std::string node_name) : node_desc(std::move(node_name)) {}

    std::vector<std::string> invalidators;
    std::optional<yes_no> streamable;
    std::vector<named_text> variables;
    std::vector<named_text> constants;
    std::vector<named_text> expressions;
    std::string formula;
    std::string unit;
    std::optional<int_representation> representation;
};

// A register made for a name is a 4-byte read-write register on the port
// "Device" whose address the document builder assigns (address 0).
struct register_desc : node_desc {
    register_desc() = default;
    explicit register_desc(std::string node_name) : node_desc(std::move(node_name)) {}

    std::optional<yes_no> streamable;
    std::uint64_t address = 0;
    value_ref length = value_ref::literal("4");
    access_mode_kind access_mode = access_mode_kind::rw;
    std::string port; // empty: "Device"
    std::optional<cachable_kind> cachable;
    std::vector<std::string> invalidators;
};

struct int_reg_desc : register_desc {
    int_reg_desc() = default;
    explicit int_reg_desc(std::string node_name) : register_desc(std::move(node_name)) {}

    std::optional<sign_kind> sign;
    endianess_kind endianess = endianess_kind::little_endian;
    std::string unit;
    std::optional<int_representation> representation;
};

struct float_reg_desc : register_desc {
    float_reg_desc() = default;
    explicit float_reg_desc(std::string node_name) : register_desc(std::move(node_name)) {}

    endianess_kind endianess = endianess_kind::little_endian;
    std::optional<float_representation> representation;
    std::optional<display_notation_kind> display_notation;
    std::optional<std::int64_t> display_precision;
};

} // namespace gcxml

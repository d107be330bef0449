#include "genicam/node_base_data.h"

#include "genicam/eval_depth_guard.h"
#include "genicam/genicam_log.h"
#include "genicam/igenicam_doc.h"
#include "genicam/number_text.h"
#include "genicam/value_access.h"
#include "genicam/xml_value_readers.h"

namespace GenICam::impl {

namespace {

// Combination of a node's own access mode with its peer's.
access_mode combine(access_mode own, access_mode other) noexcept
{
    if (own == other) {
        return own;
    }
    if (own == access_mode::NA || other == access_mode::NA) {
        return access_mode::NA;
    }
    if (own == access_mode::RW) {
        return other;
    }
    if (other == access_mode::RW) {
        return own;
    }
    return access_mode::NA;
}

bool is_condition_type(node_type type) noexcept
{
    return type == node_type::Integer || type == node_type::Float || type == node_type::Enumeration ||
           type == node_type::Boolean;
}

} // namespace

node_base_data::node_base_data(const node_init& init)
    : element(init.children->element())
    , children(init.children)
    , name(init.children->name())
    , services(init.services)
    , access(read_imposed_access_mode(*init.children))
{
}

void node_base_data::resolve_references(IGenICamDoc& document)
{
    // One pass over the children: every node is resolved while the document
    // loads, and most have none of these links.
    constexpr child_key implemented = "pIsImplemented";
    constexpr child_key available = "pIsAvailable";
    constexpr child_key locked = "pIsLocked";
    constexpr child_key invalidator = "pInvalidator";
    std::string_view condition_texts[3];
    bool seen[3] = {false, false, false};
    bool has_invalidators = false;
    const bool any_link = children->has(implemented) || children->has(available) || children->has(locked) ||
                          children->has(invalidator);
    for (std::size_t i = 0; any_link && i < children->size(); ++i) {
        const std::uint8_t key = children->key_at(i);
        const int slot = key == implemented.index() ? 0 : key == available.index() ? 1 : key == locked.index() ? 2 : -1;
        if (slot >= 0 && !seen[slot]) {
            seen[slot] = true;
            condition_texts[slot] = children->entry(i).text;
        }
        has_invalidators = has_invalidators || key == invalidator.index();
    }
    INode** const condition_fields[] = {&is_implemented_node, &is_available_node, &is_locked_node};
    for (std::size_t i = 0; i < 3; ++i) {
        INode* found = seen[i] ? document.find_node(condition_texts[i]) : nullptr;
        if (found != nullptr && is_condition_type(found->get_node_type())) {
            *condition_fields[i] = found;
            found->get_eval().add_dependent(get_inode());
        }
    }
    if (has_invalidators) {
        for (const child_element& entry : children->all(invalidator)) {
            INode* found = document.find_node(entry.text);
            if (found != nullptr) {
                found->get_eval().add_dependent(get_inode());
            } else {
                GENICAM_LOG(1, "%s, %s (\"%s\"). Failed to resolve \"pInvalidator\" xml element.\n",
                            "GenICam::impl::node_base_data::resolve_references", element_name(), name_text());
            }
        }
    }
    _resolve_references(document, element);
}

void node_base_data::invalidate()
{
    drop_cached_state();
    fire_own_callbacks();
}

void node_base_data::fire_own_callbacks()
{
    if (has_callbacks) {
        services->fire_callbacks(get_inode());
    }
}

std::vector<extension_entry> node_base_data::read_extensions() const
{
    std::vector<extension_entry> entries;
    for (pugi::xml_node entry : children->first("Extension").children()) {
        if (entry.type() == pugi::node_element) {
            entries.push_back({entry.name(), entry.child_value()});
        }
    }
    return entries;
}

std::string_view node_base_data::read_extension(std::string_view key) const
{
    for (pugi::xml_node entry : children->first("Extension").children()) {
        if (entry.type() == pugi::node_element && key == entry.name()) {
            return entry.child_value();
        }
    }
    return {};
}

result<bool> node_base_data::read_is_implemented(std::uint32_t flags)
{
    return link_flag_default_true(is_implemented_node, flags);
}

result<bool> node_base_data::read_is_available(std::uint32_t flags)
{
    return link_flag_default_true(is_available_node, flags);
}

result<bool> node_base_data::read_is_locked(std::uint32_t flags)
{
    return link_flag_default_false(is_locked_node, flags);
}

visibility node_base_data::getVisibility() const
{
    const std::string_view text = child("Visibility");
    if (text.empty()) {
        return visibility::Beginner;
    }
    constexpr std::string_view names[] = {"Beginner", "Expert", "Guru", "Invisible"};
    for (std::size_t i = 0; i < std::size(names); ++i) {
        if (names[i] == text) {
            return static_cast<visibility>(i);
        }
    }
    GENICAM_LOG(1, "%s, %s (\"%s\"). Failed to parse \"Visibility\" xml node contents (\"%.*s\").\n",
                "GenICam::impl::node_base_data::getVisibility", element_name(), name_text(),
                static_cast<int>(text.size()), text.data());
    return visibility::Beginner;
}

std::string_view node_base_data::read_display_name() const
{
    const std::string_view text = child("DisplayName");
    return text.empty() ? name : text;
}

bool node_base_data::read_is_deprecated() const
{
    return child("IsDeprecated") == "Yes";
}

bool node_base_data::read_streamable() const
{
    const std::string_view text = child("Streamable");
    if (text == "Yes") {
        return true;
    }
    if (!text.empty() && text != "No") {
        GENICAM_LOG(1, "%s, %s (\"%s\"). Failed to parse \"Streamable\" xml node contents (\"%.*s\").\n",
                    "GenICam::impl::node_base_data::get_streamable", element_name(), name_text(),
                    static_cast<int>(text.size()), text.data());
    }
    return false;
}

access_mode node_base_data::effective_access_mode()
{
    const eval_depth_guard guard;
    if (!guard) {
        return access_mode::NA;
    }
    INode* peer = access_mode_peer();
    if (peer == nullptr) {
        return access;
    }
    return combine(access, peer->get_access_mode());
}

std::error_code node_base_data::add_node_callback(const node_callback& callback)
{
    has_callbacks = true;
    services->add_callback(get_inode(), callback);
    return {};
}

void node_base_data::remove_node_callbacks()
{
    services->remove_callbacks(get_inode());
    has_callbacks = false;
}

std::optional<std::int64_t> node_base_data::read_event_id() const
{
    const parsed_integer parsed = parse_hex_text(child("EventID"));
    if (!parsed.ok()) {
        return std::nullopt;
    }
    return parsed.value;
}

name_space node_base_data::read_name_space() const
{
    return std::string_view(element.attribute("NameSpace").value()) == "Standard" ? name_space::Standard
                                                                                  : name_space::Custom;
}

merge_priority node_base_data::read_merge_priority() const
{
    const std::string_view text = element.attribute("MergePriority").value();
    if (text == "-1") {
        return merge_priority::low;
    }
    if (text == "+1") {
        return merge_priority::high;
    }
    return merge_priority::normal;
}

std::optional<bool> node_base_data::read_expose_static() const
{
    const std::string_view text = element.attribute("ExposeStatic").value();
    if (text == "Yes") {
        return true;
    }
    if (text == "No") {
        return false;
    }
    return std::nullopt;
}

INode* node_base_data::resolve_node(child_key key) const
{
    const std::string_view text = child(key);
    if (text.empty()) {
        return nullptr;
    }
    INode* found = services->find_node(text);
    if (found == nullptr) {
        GENICAM_LOG(1, "%s, %s (\"%s\"). Failed to resolve \"%s\" xml node contents (\"%.*s\").\n",
                    "GenICam::impl::node_base_data::resolve_node", element_name(), name_text(), key.c_str(),
                    static_cast<int>(text.size()), text.data());
    }
    return found;
}

std::vector<INode*> node_base_data::resolve_node_list() const
{
    std::vector<INode*> nodes;
    for (const child_element& selected : children->all("pSelected")) {
        const std::string_view text = selected.text;
        if (INode* found = services->find_node(text)) {
            nodes.push_back(found);
        } else {
            GENICAM_LOG(1, "%s, %s (\"%s\"). Failed to resolve \"%s\" xml node contents (\"%.*s\").\n",
                        "GenICam::impl::node_base_data::resolve_node_list", element_name(), name_text(),
                        "pSelected", static_cast<int>(text.size()), text.data());
        }
    }
    return nodes;
}

void node_base_data::set_actual_access_mode(access_mode mode)
{
    if (mode == access) {
        return;
    }
    if (access == access_mode::RW) {
        access = mode;
    } else if (access == access_mode::RO && mode == access_mode::WO) {
        GENICAM_LOG(1, "%s, %s (\"%s\"). Trying to change access mode from ImposedAccessMode == RO to WO.\n",
                    "GenICam::impl::node_base_data::set_actual_access_mode", element_name(), name_text());
    } else if (access == access_mode::WO && mode == access_mode::RO) {
        GENICAM_LOG(1, "%s, %s (\"%s\"). Trying to change access mode from ImposedAccessMode == WO to RO.\n",
                    "GenICam::impl::node_base_data::set_actual_access_mode", element_name(), name_text());
    }
}

std::error_code node_base_data::check_access(bool for_write, std::uint32_t flags)
{
    if ((flags & access_flags::skip_access_check) != 0) {
        return {};
    }
    if (is_implemented_node != nullptr) {
        const result<bool> implemented = link_flag_default_true(is_implemented_node, flags);
        if (implemented.has_value() && !implemented.value()) {
            return make_error_code(errc::not_implemented);
        }
    }
    if (is_available_node != nullptr) {
        const result<bool> available = link_flag_default_true(is_available_node, flags);
        if (available.has_value() && !available.value()) {
            return make_error_code(errc::node_not_available);
        }
    }
    switch (effective_access_mode()) {
    case access_mode::RW:
        return {};
    case access_mode::RO:
        return for_write ? make_error_code(errc::access_denied) : std::error_code{};
    case access_mode::WO:
        return for_write ? std::error_code{} : make_error_code(errc::access_denied);
    case access_mode::NA:
    default:
        return make_error_code(errc::access_denied);
    }
}

} // namespace GenICam::impl

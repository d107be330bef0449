// Fuzzes loading a description and then touching every node: common queries,
// value reads and writes of every family, entries, features and callbacks.

#include "genicam/genicam_doc.h"
#include "genicam/iboolean.h"
#include "genicam/icategory.h"
#include "genicam/icommand.h"
#include "genicam/ieval.h"
#include "genicam/ienumeration.h"
#include "genicam/ifloat.h"
#include "genicam/iinteger.h"
#include "genicam/istring.h"
#include "genicam/value_access.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

void touch_common(GenICam::INode& node)
{
    (void)node.get_display_name();
    (void)node.get_extensions();
    (void)node.get_extension("VCDItemGUID");
    (void)node.is_implemented();
    (void)node.is_available();
    (void)node.is_locked();
    (void)node.get_visibility();
    (void)node.get_access_mode();
    (void)node.get_event_id();
    (void)node.get_alias();
    (void)node.get_merge_priority();
    (void)node.get_expose_static();
    (void)node.get_eval().dependent_count();
}

void touch_values(GenICam::INode& node)
{
    using namespace GenICam;
    using namespace GenICam::impl;
    const auto number = get_eval_val<eval_number>(node, 0);
    if (number) {
        (void)set_eval_val(node, number.value(), 0);
    }
    (void)get_eval_min_int(node, 0);
    (void)get_eval_max_float(node, 0);
    (void)get_eval_inc_int(node, 0);
    (void)get_eval_default_float(node, 0);
    if (auto* i = node_as<IInteger>(node)) {
        (void)i->get_representation();
        (void)i->get_unit();
        (void)i->get_selected_features();
        (void)i->set_val(7, 0);
        (void)i->set_val(7, access_flags::skip_range_check | access_flags::skip_access_check);
    }
    if (auto* f = node_as<IFloat>(node)) {
        (void)f->get_display_notation();
        (void)f->get_display_precision();
        (void)f->set_val(0.5, 0);
    }
    if (auto* e = node_as<IEnumeration>(node)) {
        for (IEnumEntry* entry : e->get_entries()) {
            (void)entry->get_numeric_value();
            (void)entry->is_self_clearing();
            (void)e->set_entry(entry, 0);
        }
        (void)e->find_entry_by_numeric_value(1.0);
        (void)e->find_entry_by_name("On");
        (void)e->get_polling_time();
    }
    if (auto* b = node_as<IBoolean>(node)) {
        (void)b->set_val(true, 0);
        (void)b->get_default(0);
    }
    if (auto* c = node_as<ICommand>(node)) {
        (void)c->execute(0);
        (void)c->is_done(0);
        (void)c->get_polling_time();
    }
    if (auto* s = node_as<IString>(node)) {
        (void)s->get_val(0);
        (void)s->set_val("text", 0);
    }
    if (auto* c = node_as<ICategory>(node)) {
        (void)c->get_features();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The engine logs to standard output; keep the fuzzer's output readable.
    (void)std::freopen("/dev/null", "w", stdout);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    GenICam::impl::genicam_doc doc;
    if (!doc.load_xml(data, size)) {
        return 0;
    }
    (void)doc.dump(0);
    (void)doc.dump(1);
    (void)doc.find_port("");
    int fired = 0;
    doc.for_each_node([&](GenICam::INode& node) {
        (void)node.register_callback([&fired](GenICam::INode&) { ++fired; });
    });
    doc.for_each_node([](GenICam::INode& node) {
        touch_common(node);
        touch_values(node);
    });
    return 0;
}

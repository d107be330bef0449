#include "genicam/formula_compile.h"

#include "genicam/genicam_log.h"

#include <fmt/format.h>

namespace genicam::formula {

GenICam::result<formula_program> parse_and_compile(std::string_view text, const formula_name_resolver& resolver)
{
    compile_result r = compile_formula(text, resolver);
    if (r.succeeded()) {
        return std::move(r.program);
    }
    if (r.code == parse_unmapped_variable) {
        GENICAM_LOG(1, "Failed to map variable \"%.*s\" to either a constant or a pValue.\n",
                    static_cast<int>(r.unmapped_name.size()), r.unmapped_name.data());
    }
    if (GenICam::impl::genicam_log_enabled(1)) {
        try {
            const std::string line = fmt::format("km_parse_tree failed with result={}. Last token view:\n{}.\n",
                                                 parse_code_text(r.code), r.rest);
            GenICam::impl::genicam_log_printf(1, "%s", line.c_str());
        } catch (...) {
            // A log line that cannot be formatted is dropped; the failure stands.
        }
    }
    return GenICam::make_error_code(GenICam::errc::formula_parse_failed);
}

} // namespace genicam::formula

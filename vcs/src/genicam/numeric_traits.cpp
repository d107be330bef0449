#include "genicam/numeric_traits.h"

#include "genicam/genicam_log.h"

namespace GenICam::impl {

void numeric_traits<std::int64_t>::log_range_failure(const char* name, std::int64_t value)
{
    GENICAM_LOG(2, "Integer (\"%s\"). Failed range check for parameter value=%lld.\n", name,
                static_cast<long long>(value));
}

void numeric_traits<double>::log_range_failure(const char* name, double value)
{
    GENICAM_LOG(2, ", Float (\"%s\"). Failed range check for parameter value=%e.\n", name, value);
}

} // namespace GenICam::impl

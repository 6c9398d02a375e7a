#include "trace.h"

#include <VyrCldapi/TracingCld_Integration.h>

#include <utility>

namespace vyr::cld::cli {
namespace {

// One run, one trace: set once by main before any command connects.
VyrCldapi::TraceSink& sink()
{
    static VyrCldapi::TraceSink file;
    return file;
}

} // namespace

void trace_into(const std::filesystem::path& file)
{
    sink() = VyrCldapi::TraceFile(file);
}

std::shared_ptr<VyrCldapi::ICld_Integration> traced(std::shared_ptr<VyrCldapi::ICld_Integration> service)
{
    if (!sink()) {
        return service;
    }
    return std::make_shared<VyrCldapi::TracingCld_Integration>(std::move(service), sink());
}

} // namespace vyr::cld::cli

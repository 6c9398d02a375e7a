#pragma once

#include <VyrCldapi/Cld_Integration.h>

#include <filesystem>
#include <memory>

// vyr-cld --trace FILE: every service call of the run, one JSON line each, appended to FILE.
namespace vyr::cld::cli {

// Opens the trace file for this run; raises if it cannot be opened for appending.
void trace_into(const std::filesystem::path& file);

// The service as it is to be installed: wrapped in the tracer when a trace file is open.
std::shared_ptr<VyrCldapi::ICld_Integration> traced(std::shared_ptr<VyrCldapi::ICld_Integration> service);

} // namespace vyr::cld::cli

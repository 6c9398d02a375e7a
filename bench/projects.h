#pragma once

// A long project list, for the benchmarks that measure what records cost.

#include <VyrCldapi/Cld_Integration.h>

#include <cstdint>
#include <memory>
#include <string>

namespace vyr::cld::bench {

using ProjectList = VyrCldapi::List<VyrCldapi::Ref<VyrCldapi::Project>>;

// `count` projects of three short texts each.
inline ProjectList numbered_projects(std::int64_t count)
{
    auto projects = ProjectList::WithCapacity(static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i) {
        auto project = std::make_shared<VyrCldapi::Project>();
        const auto digits = std::to_string(i);
        const std::u16string wide(digits.begin(), digits.end());
        project->Id = u"project-" + wide;
        project->Name = u"Ringroad section " + wide;
        project->ProjectNumber = u"2026-" + wide;
        projects.Add(std::move(project));
    }
    return projects;
}

} // namespace vyr::cld::bench

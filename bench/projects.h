#pragma once

// A long project list, for the benchmarks that measure what records cost.

#include <VyrCldapi/Cld_Integration.h>

#include <memory>
#include <string>

namespace vyr::cld::bench {

inline VyrCldapi::List<VyrCldapi::Ref<VyrCldapi::Project>> numbered_projects(int count)
{
    auto projects = VyrCldapi::List<VyrCldapi::Ref<VyrCldapi::Project>>::WithCapacity(0);
    for (int i = 0; i < count; ++i) {
        auto project = std::make_shared<VyrCldapi::Project>();
        const auto digits = std::to_string(i);
        project->Id = u"project-" + std::u16string(digits.begin(), digits.end());
        project->Name = u"Ringroad section " + std::u16string(digits.begin(), digits.end());
        project->ProjectNumber = u"2026-" + std::u16string(digits.begin(), digits.end());
        projects.Add(std::move(project));
    }
    return projects;
}

} // namespace vyr::cld::bench

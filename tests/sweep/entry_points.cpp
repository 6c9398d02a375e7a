#include "sweep/entry_points.h"

namespace vyr::cld::sweep {

const std::vector<EntryPoint>& all_entry_points()
{
    static const auto entries = [] {
        std::vector<EntryPoint> all;
        for (auto family : {file_entry_points}) {
            for (auto& entry : family()) {
                all.push_back(std::move(entry));
            }
        }
        return all;
    }();
    return entries;
}

} // namespace vyr::cld::sweep

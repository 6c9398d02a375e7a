#include "sweep/entry_points.h"

namespace sweep {

const std::vector<EntryPoint>& all_entry_points()
{
    static const auto entries = [] {
        std::vector<EntryPoint> all;
        for (auto family : {session_entry_points, file_entry_points, project_entry_points, ui_entry_points}) {
            for (auto& entry : family()) {
                all.push_back(std::move(entry));
            }
        }
        return all;
    }();
    return entries;
}

} // namespace sweep

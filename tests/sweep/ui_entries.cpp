#include "sweep/entry_points.h"

#include "ui/pane.h"

#include <vyr/cld/ui.h>

#include <memory>
#include <string>

namespace sweep {

namespace api = VyrCldapiIntegration;

namespace {

using Texts = std::vector<std::string>;

class HostCallback final : public cld::IFileBrowserUICallback {
public:
    HWND getHwnd() override { return nullptr; }
    void showLockInfoPanelNearUi(const std::string&) override {}
    bool promptSave(const std::string&) override { return true; }
    std::vector<std::string> collectRelatedFiles(const std::string&) override { return {}; }
    bool isFileOperationsAllowed(const std::string&) override { return true; }
    bool isUsingContractPosts() override { return false; }
};

// A host's view of a pane that follows the sweep's script, made without calling the service.
cld::FileBrowserUi scripted_pane()
{
    return cld::bridge::marshal_as<cld::FileBrowserUi>(Ref<UI::FileBrowserUI>(std::make_shared<ScriptedPane>()));
}

Ref<FileToImport> file_to_import(String name, String vendor)
{
    return std::make_shared<FileToImport>(FileToImport{std::move(name), std::move(vendor)});
}

const List<Ref<FileToImport>> chosen_files{file_to_import(u"import/survey.xml", u"Surveyor AS"),
                                           file_to_import(u"import/points.csv", String())};
const std::vector<cld::FileToImport> chosen_records{{"import/survey.xml", "Surveyor AS"},
                                                    {"import/points.csv", std::nullopt}};

// The dialog's list and its out-text: the text is assigned with a result, and kept on failure.
Outcome files_overview(const std::vector<cld::FileToImport>& expected, const std::string& expected_layer)
{
    const Texts model{"site/plan.dwg"};
    const Texts layers{"Layer 1", "Layer 2"};
    std::string layer = "host layer";
    const auto result = library([&] { return api::ShowFilesOverviewDialog(model, layers, layer); });
    if (result == expected && layer == expected_layer) {
        return Outcome::Success;
    }
    return result.empty() && layer == "host layer" ? Outcome::FailureValue : Outcome::Wrong;
}

} // namespace

std::vector<EntryPoint> ui_entry_points()
{
    const Texts folders{"include/a", "include/b"};
    return {
        {"VyrCldapiIntegration::SetCallbacks",
         "SetCallbacks",
         false,
         {},
         [](int&) {
             // A function without captures: copying it into the parameter allocates nothing.
             library([&] { return api::SetCallbacks([](cld::ProgressEventType, double, const std::string&) {}); });
             return Outcome::Void;
         }},
        {"VyrCldapiIntegration::StartFileBrowserUi",
         "StartFileBrowserUi",
         false,
         answering(Ref<UI::FileBrowserUI>(std::make_shared<ScriptedPane>())),
         [](int&) {
             auto callback = std::make_unique<HostCallback>();
             const bool open = library([&] { return static_cast<bool>(api::StartFileBrowserUi(std::move(callback))); });
             return open ? Outcome::Success : Outcome::FailureValue;
         },
         {{"null pane", answering(Ref<UI::FileBrowserUI>())}}},
        {"VyrCldapiIntegration::StopFileBrowserUi",
         "StopFileBrowserUi",
         false,
         {},
         [](int&) {
             library([&] { return api::StopFileBrowserUi(); });
             return Outcome::Void;
         }},
        {"VyrCldapiIntegration::ShowImportFilesDialog", "ShowImportFilesDialog", false, answering(true),
         [](int&) {
             return classify(library([&] { return api::ShowImportFilesDialog(cld::TagCategory::Import, "Import"); }),
                             true);
         }},
        {"VyrCldapiIntegration::ShowIncludeFolderDialog", "ShowIncludeFolderDialog", false, answering(true),
         [](int&) { return classify(library([&] { return api::ShowIncludeFolderDialog(); }), true); }},
        {"VyrCldapiIntegration::ShowFilesOverviewDialog",
         "ShowFilesOverviewDialog",
         false,
         answering(chosen_files, {u"Layer 2"}),
         [](int&) { return files_overview(chosen_records, "Layer 2"); },
         {{"null list", answering(List<Ref<FileToImport>>(), {u"Layer 2"}), Outcome::Success,
           [](int&) { return files_overview({}, "Layer 2"); }},
          {"null text", answering(chosen_files), Outcome::Success,
           [](int&) { return files_overview(chosen_records, ""); }},
          {"null element", answering(List<Ref<FileToImport>>{chosen_files[0], nullptr}, {u"Layer 2"})},
          {"null file name",
           answering(List<Ref<FileToImport>>{file_to_import(String(), u"Surveyor AS")}, {u"Layer 2"})}}},
        {"VyrCldapiIntegration::AddIncludeFoldersToProject",
         "AddIncludeFoldersToProject",
         false,
         {},
         [folders](int&) {
             library([&] { return api::AddIncludeFoldersToProject(folders); });
             return Outcome::Void;
         }},
        {"VyrCldapiIntegration::AreIncludeFoldersInModel", "AreIncludeFoldersInModel", false, answering(true),
         [folders](int&) { return classify(library([&] { return api::AreIncludeFoldersInModel(folders); }), true); }},

        // The members of the host's pane value: they call the pane, not the facade.
        {"vyr::cld::FileBrowserUi::operator bool",
         "",
         false,
         {},
         [](int&) {
             const auto pane = scripted_pane();
             return classify(library([&] { return static_cast<bool>(pane); }), true);
         }},
        {"vyr::cld::FileBrowserUi::getHwnd", "FileBrowserUI.get_HWND", false, answering(std::intptr_t{0x1234}),
         [](int&) {
             auto pane = scripted_pane();
             return classify(library([&] { return pane.getHwnd(); }), reinterpret_cast<HWND>(0x1234));
         }},
        {"vyr::cld::FileBrowserUi::getPaneIsActive", "FileBrowserUI.get_PaneIsActive", false, answering(true),
         [](int&) {
             auto pane = scripted_pane();
             return classify(library([&] { return pane.getPaneIsActive(); }), true);
         }},
        {"vyr::cld::FileBrowserUi::setPaneIsActive",
         "FileBrowserUI.set_PaneIsActive",
         false,
         {},
         [](int&) {
             auto pane = scripted_pane();
             library([&] { return pane.setPaneIsActive(true); });
             return Outcome::Void;
         }},
        {"vyr::cld::FileBrowserUi::handleEvents",
         "FileBrowserUI.HandleEvents",
         false,
         {},
         [](int&) {
             auto pane = scripted_pane();
             library([&] { return pane.handleEvents(); });
             return Outcome::Void;
         }},
    };
}

} // namespace sweep

// Settings: a tree of named and unnamed values saved to and loaded from XML.
#include <VLibIncludes.h>

#include <filesystem>
#include <iostream>
#include <string>

int main() {
    const auto file = std::filesystem::temp_directory_path() / "vlib-example-workspace.xml";
    const std::wstring path = VTools::String::Utf8ToWide(file.string());

    Settings workspace;
    workspace["Window"]["Rect"] = std::string("10 20 300 400");
    workspace["Window"]["Maximized"] = false;
    workspace["Columns"].AddUnnamed() = std::string("Symbol");
    workspace["Columns"].AddUnnamed() = std::string("Price");
    if (!workspace.SaveToFile(path, "Workspace")) return 1;

    Settings loaded;
    if (!loaded.LoadFromFile(path, "Workspace")) return 1;
    const std::string_view rect = loaded["Window"]["Rect"];
    std::cout << "Window/Rect = " << rect << ", columns: " << loaded["Columns"].GetUnnamedVariablesCount() << "\n";
    std::cout << loaded.ConvertToString() << "\n";
    std::filesystem::remove(file);
}

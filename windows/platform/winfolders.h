// The program folder and the run log's folder on Windows.
#pragma once

#include <string>

namespace mivex::win {

// The folder of the running executable, without a trailing "\" (except at a drive's root).
std::wstring programFolder();

// The run log's folder, chosen once at start: the program folder when a file can be made there,
// else %LOCALAPPDATA%\Mivex (created). Empty when neither can be had: the run is not logged.
std::wstring chooseLogFolder(const std::wstring& programFolder);

// `folder` + "\" + `name`, with no second "\" after a drive's root.
std::wstring joinPath(const std::wstring& folder, const std::wstring& name);

}  // namespace mivex::win

// The standard file dialogs of the two file streams. [ui thread]
#pragma once

#include <optional>
#include <string>

namespace vorlan::gui {

// "Select input file": an existing file. Starts at `current` when set;
// nullopt when the user cancels.
std::optional<std::string> ChooseFileToRead(const std::optional<std::string>& current);

// "Select output file": any name in an existing folder; the dialog asks
// before an existing file is overwritten. Nullopt when the user cancels.
std::optional<std::string> ChooseFileToWrite(const std::optional<std::string>& current);

}  // namespace vorlan::gui
